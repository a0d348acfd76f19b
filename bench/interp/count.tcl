proc main {} {
    set x 0
    for {set i 1} {$i <= 10000000} {incr i} { set x [expr {($x + $i) & 255}] }
    puts $x
}
main
