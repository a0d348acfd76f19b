proc main {} {
    array set o {a 0 b 3}
    for {set i 1} {$i <= 1000000} {incr i} {
        set o(a) [expr {($o(a) + $o(b)) & 65535}]
        set o(b) [expr {($o(b) + 1) & 255}]
    }
    puts $o(a)
}
main
