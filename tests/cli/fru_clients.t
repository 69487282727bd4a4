# ipmitool reads and writes the IPMC's FRU devices: what it shows is what the
# board's images (sim/boards/fru/make_images.py) say. On the build host only.

## ipmitool shows the board's own FRU: board and product areas, the MAC as text
$ ipmitool -I open fru print 0
 Board Mfg Date        : Fri Sep  6 00:00:00 2019 UTC
 Board Mfg             : Example Systems
 Board Product         : PPC Board
 Board Serial          : B0000001
 Board Part Number     : PB-1400
 Board Extra           : MAC=02:00:00:00:00:01/1
 Board Extra           : REV=B
 Product Manufacturer  : Example Systems
 Product Name          : PPC Service Board
 Product Part Number   : PB-1400-01
 Product Version       : REV-B
 Product Serial        : S0000001
 Product Asset Tag     : ASSET-0001
$ trace 'SEND_COMMAND.*cmd=0x10'
ipmi SEND_COMMAND msgid=3 addr=si lun=0 netfn=0x0a cmd=0x10 data=00 -> ret=0 errno=0 ccode=0x00 data=100100

## a write to the internal use area (from byte 8) reads back, also in a later run
$ ipmitool -I open raw 0x0a 0x12 0 9 0 0xaa 0xbb
 02
$ ipmitool -I open raw 0x0a 0x11 0 8 0 4
 04 01 aa bb 12
$ ipmitool -I open raw 0x0a 0x11 0 0x10 0x01 1
[1]
$ trace 'SEND_COMMAND.*cmd=0x11 data=00100101'
ipmi SEND_COMMAND msgid=3 addr=si lun=0 netfn=0x0a cmd=0x11 data=00100101 -> ret=0 errno=0 ccode=0xc9 data=

## the board still to migrate keeps its MAC and options as binary custom fields
@board migrate.toml
$ ipmitool -I open fru print 0 | grep Extra
 Board Extra           : 02000000100103
 Board Extra           : 0500010000000000000000000000000000000000000000000000000000000000
$ ipmitool -I open fru print 1 | grep Extra
 Board Extra           : 03000000000000000000000000000000
$ ipmitool -I open raw 0x30 0x03 0x5a 0xc3 0x17 0x8e 0x21
 ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff
 ff

## an IPMC that reads 16 bytes at a time: ipmitool asks for less until it is answered
@board fru-limit.toml
$ ipmitool -I open fru print 1 | grep "Board Product"
 Board Product         : PMC MEZZ
$ trace 'ccode=0xc7' | grep -c .
10

## the same with 0xC8
@board fru-limit-c8.toml
$ ipmitool -I open fru print 1 | grep "Board Product"
 Board Product         : PMC MEZZ
$ trace 'ccode=0xc8' | grep -c .
10

## a FRU the IPMC says is not there
@board fru-absent.toml
$ ipmitool -I open fru print 0
 Device not present (Requested sensor, data, or record not found)
[1]
$ ipmitool -I open fru print 1 | grep "Board Product"
 Board Product         : PMC MEZZ

## reads that answer fewer bytes than they say: ipmitool gives up
@board fru-short.toml
$ ipmitool -I open fru print 1
 Not enough buffer size Not enough buffer size

## a word-accessed FRU (the count asked in bytes, the one returned in words): ipmitool reads it
@board fru-word.toml
$ ipmitool -I open fru print 0 | grep "Board Product|Product Asset"
 Board Product         : PPC Board
 Product Asset Tag     : ASSET-0001
$ trace 'SEND_COMMAND.*cmd=0x11 data=000c0002'
ipmi SEND_COMMAND msgid=5 addr=si lun=0 netfn=0x0a cmd=0x11 data=000c0002 -> ret=0 errno=0 ccode=0x00 data=01010c
