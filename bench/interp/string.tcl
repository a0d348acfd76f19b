proc main {} {
    set s ""
    for {set i 1} {$i <= 1000000} {incr i} { append s abc }
    puts [string length $s]
}
main
