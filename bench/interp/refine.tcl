proc f {a {scale ""}} {
    if {$scale ne ""} { return [expr {$a * $scale}] }
    return [expr {$a + 1}]
}
proc main {} {
    set t 0
    for {set i 1} {$i <= 1000000} {incr i} {
        set t [expr {($t + [f $i 2] + [f $i]) & 65535}]
    }
    puts $t
}
main
