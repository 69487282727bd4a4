# sensor_list and the default check against an IPMC whose SDR answers are
# hostile: each run ends in time, with the library's failure, after a bounded
# number of Get Device SDR exchanges (hvl_ipmi_sensor.h: at most 8 renewed
# reservations a piece; the piece size halves on 0xCA from 255 down to 2; at
# most 4 passes a record; no record over 60 bytes; a short answer fails; a
# walk ends at a loop of IDs). A failed read drops the record from the list
# (whose result is that of the last record read); the detection, which reads
# the same way, counts the piggy-back as absent.
# The default board's repository: CPU Temp (0x0001), 12V, Hot Swap and the
# mezzanine's record 0x0200, each read in one piece after its header.

## answers with more record bytes than the header says are cut to it, with fewer fail the record
@board sdr-length-mismatch.toml
@timeout 30
$ sensor_list
0x0001|2|0x01|1|CPU Temp|1|45.000|degrees C|1|0x38|na|na|na|80.000|90.000|100.000
0x0002|2|0x02|1|12V|1|12.000|Volts|1|0x1b|10.800|10.200|na|13.200|13.800|na
0x0003|1|0x03|1|Hot Swap|1|0x00|0x10|0x00|OEM reserved
[1]
# Four headers and four pieces.
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
8

## every reservation cancelled in the middle of a record: 8 renewals, then the read fails
# Record 0x0200's piece is asked for 9 times and the reservation renewed 8
# times, each after a pause of rand() & 3 seconds: 15 s with the unseeded
# generator. The detection makes the same read and would cost another 15 s;
# the other boards show how it takes a failed read.
@board sdr-endless-cancel.toml
@timeout 40
$ sensor_list | grep -c .
3
[1]
$ trace SEND_COMMAND.*cmd=0x21 .*data=..00000205 | grep -c .
9
$ trace SEND_COMMAND.*cmd=0x22 | grep -c .
9

## a record that changed every time it is read: four passes, then the read fails
@board sdr-endless-changed.toml
@timeout 30
$ sensor_list
[1]
# Each of the four records: its header and four passes of one piece.
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
20

## no record bytes in any piece size: the size stops at 2 and every read fails
@board sdr-no-piece.toml
@timeout 30
$ sensor_list
[1]
# CPU Temp's 51 bytes asked for while the size goes 255, 126, 62, 30, 14, 6
# and 2; the other three records once each with the size left at 2.
$ trace SEND_COMMAND.*cmd=0x21 data=0100010005
ipmi SEND_COMMAND msgid=4 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001000533 -> ret=0 errno=0 ccode=0xca data=
ipmi SEND_COMMAND msgid=5 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001000533 -> ret=0 errno=0 ccode=0xca data=
ipmi SEND_COMMAND msgid=6 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001000533 -> ret=0 errno=0 ccode=0xca data=
ipmi SEND_COMMAND msgid=7 addr=si lun=0 netfn=0x04 cmd=0x21 data=01000100051e -> ret=0 errno=0 ccode=0xca data=
ipmi SEND_COMMAND msgid=8 addr=si lun=0 netfn=0x04 cmd=0x21 data=01000100050e -> ret=0 errno=0 ccode=0xca data=
ipmi SEND_COMMAND msgid=9 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001000506 -> ret=0 errno=0 ccode=0xca data=
ipmi SEND_COMMAND msgid=10 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001000502 -> ret=0 errno=0 ccode=0xca data=
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
14
# The check is another process: its size starts at 255 again.
$ hwregs check default | grep -c 'PIGGY.*0x00:0xff.*failed'
2
[255]
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
22

## a walk ends where the next-record IDs go round
@board sdr-loop.toml
@timeout 30
$ sensor_list | grep -c .
3
# Three headers and three pieces: after Hot Swap comes 0x0002 again, the ID
# the walk asked for at its second header. The detection asks for 0x0200 by
# its ID and finds the mezzanine.
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
6
$ hwregs check default | grep -c passed
57

## a record longer than 60 bytes is not read, one of 60 is
@board sdr-long-record.toml
@timeout 30
$ sensor_list
0x0011|5|0x00|1|AMC 1|0xc1|97|0x41|0|5
# Two headers and one piece.
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
3
