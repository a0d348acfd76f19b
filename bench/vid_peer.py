# The peer of run-vid.sh: 1,000 Label, Entry and Button widgets in turn,
# gridded ten to a row in a withdrawn Tk window, then update_idletasks.
# Prints the seconds taken by the widget making and geometry pass. With
# --mapped (the peer of the Wine view/no-wait row) the window is shown: the
# time runs until it is mapped and its pending events are handled.
import sys
import time
import tkinter as tk

args = [a for a in sys.argv[1:] if not a.startswith("--")]
mapped = "--mapped" in sys.argv
n = int(args[0]) if args else 1000
root = tk.Tk()
root.withdraw()
root.update()
start = time.perf_counter()
frame = tk.Frame(root)
frame.grid()
kinds = [lambda: tk.Label(frame, text="label"),
         lambda: tk.Entry(frame),
         lambda: tk.Button(frame, text="push")]
for i in range(n):
    w = kinds[i % 3]()
    if i % 3 == 1:
        w.insert(0, "entry")
    w.grid(row=i // 10, column=i % 10)
if mapped:
    root.deiconify()
    root.wait_visibility(root)
    root.update()
else:
    root.update_idletasks()
print(time.perf_counter() - start)
root.destroy()
