proc main {} {
    set b {}
    for {set i 1} {$i <= 1000000} {incr i} { lappend b $i }
    puts [llength $b]
}
main
