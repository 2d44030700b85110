# Turns the machine's key script (scenario.keys, vmtool syntax) into a lumetra-sim key
# script that sends the same records at the same times; the simulator follows each key
# record with the report record the kernel's input layer adds (value 1 after a repeat).
function key(k) { return k == "A" ? "30" : k }
function down(k) { print "down " key(k) }
function up(k) { print "up " key(k) }
{ sub(/#.*/, "") }
$1 == "wait" { print "wait " $2 }
$1 == "press" { down($2) }
$1 == "release" { up($2) }
$1 == "tap" { down($2); print "wait 100"; up($2) }
$1 == "repeat" {
    for (i = 0; i < $3; i++) { print "wait " $4; print "repeat " key($2) }
}
$1 == "dump" { print "snap " $2 ".raw" }
