# Public IPMI clients on the simulated board: they reach the IPMC through
# /dev/ipmi0 as they would on the board, and what they show is what the board
# file says. These run on the build host only.

## ipmitool shows the IPMC's identity from the board file
$ ipmitool -I open mc info
Device ID                 : 0
Device Revision           : 1
Firmware Revision         : 1.05
IPMI Version              : 1.5
Manufacturer ID           : 32473
Manufacturer Name         : Example Enterprise Number for Documentation Use
Product ID                : 12576 (0x3120)
Product Name              : Unknown (0x3120)
Device Available          : yes
Provides Device SDRs      : yes
Additional Device Support :
    Sensor Device
    FRU Inventory Device
    IPMB Event Generator
Aux Firmware Rev Info     : 
    0x00
    0x00
    0x00
    0x00

## ipmitool sets up the driver, finds the PICMG IPMC and takes its IPMB-0 address
$ ipmitool -I open raw 0x06 0x01
 00 81 01 05 51 29 d9 7e 00 20 31 00 00 00 00
$ trace '^ipmi (open|SET|SEND_COMMAND msgid=[0-2] )'
ipmi open flags=0x00000002 -> ret=3 errno=0
ipmi SET_GETS_EVENTS_CMD value=1 -> ret=0 errno=0
ipmi SET_MY_ADDRESS_CMD value=0x20 -> ret=0 errno=0
ipmi SEND_COMMAND msgid=0 addr=si lun=0 netfn=0x06 cmd=0x01 data= -> ret=0 errno=0 ccode=0x00 data=008101055129d97e00203100000000
ipmi SEND_COMMAND msgid=1 addr=si lun=0 netfn=0x2c cmd=0x00 data=00 -> ret=0 errno=0 ccode=0x00 data=00320200
ipmi SEND_COMMAND msgid=2 addr=si lun=0 netfn=0x2c cmd=0x01 data=00 -> ret=0 errno=0 ccode=0x00 data=004182ff000100
ipmi SET_MY_ADDRESS_CMD value=0x82 -> ret=0 errno=0

## FreeIPMI's bmc-info shows the same identity
$ bmc-info --driver-type=OPENIPMI --get-device-id
Device ID             : 0
Device Revision       : 1
Device SDRs           : supported
Firmware Revision     : 1.05
Device Available      : yes (normal operation)
IPMI Version          : 1.5
Sensor Device         : supported
SDR Repository Device : unsupported
SEL Device            : unsupported
FRU Inventory Device  : supported
IPMB Event Receiver   : unsupported
IPMB Event Generator  : supported
Bridge                : unsupported
Chassis Device        : unsupported
Manufacturer ID       : Example Enterprise Number for Documentation Use (32473)
Product ID            : 12576
Auxiliary Firmware Revision Information : 00000000h
$ trace RECEIVE
ipmi RECEIVE_MSG_TRUNC addr_len=8 data_len=1024 -> ret=0 errno=0 type=1 addr=si msgid=0 netfn=0x07 cmd=0x01 data_len=16

## a raw OEM request reads an IPMC-area register: the CPLD version
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0xff 0x01
 0c
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x10 0x01
 0f
$ trace 'SEND_COMMAND.*cmd=0x62'
ipmi SEND_COMMAND msgid=3 addr=si lun=0 netfn=0x3e cmd=0x62 data=7e31b60fff01 -> ret=0 errno=0 ccode=0x00 data=0c
ipmi SEND_COMMAND msgid=3 addr=si lun=0 netfn=0x3e cmd=0x62 data=7e31b60f1001 -> ret=0 errno=0 ccode=0x00 data=0f

## a raw write shows in a later read, also in a later run; read-only registers keep theirs
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x55 0x00 0xa5 0xff
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x55 0x01
 a5
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0xfd 0x00 0x00 0xff
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0xfd 0x01
 b5

## a wrong access signature is refused with completion code 0xD4
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x00 0x10 0x01
[1]
$ trace ccode=0xd4
ipmi SEND_COMMAND msgid=3 addr=si lun=0 netfn=0x3e cmd=0x62 data=7e31b6001001 -> ret=0 errno=0 ccode=0xd4 data=

## with the mezzanine fitted the piggy-back registers and the engineering record say so
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x14 0x01
 04
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x15 0x01
 05
$ ipmitool -I open raw 0x30 0x03 0x5a 0xc3 0x17 0x8e 0x21
 00 00 00 00 01 00 00 00 00 02 00 00 00 00 01 01
 33

## without the mezzanine they say not
@board no-mezzanine.toml
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x14 0x01
 00
$ ipmitool -I open raw 0x30 0x03 0x5a 0xc3 0x17 0x8e 0x21
 00 00 00 00 00 00 00 00 00 02 00 00 00 00 01 01
 6e

## an IPMC without PICMG Get Address Info leaves the driver's own address alone
@board addrinfo-c1.toml
$ ipmitool -I open raw 0x06 0x01
 00 81 01 05 51 29 d9 7e 00 20 31 00 00 00 00
$ trace 'SET_MY_ADDRESS|cmd=0x01 data=00'
ipmi SET_MY_ADDRESS_CMD value=0x20 -> ret=0 errno=0
ipmi SEND_COMMAND msgid=2 addr=si lun=0 netfn=0x2c cmd=0x01 data=00 -> ret=0 errno=0 ccode=0xc1 data=

## a completion code from the board file reaches the client
@board cpldreg-ccode.toml
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x10 0x01
[1]
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x11 0x01
 15

## an answer longer than the client's buffer arrives cut to 1024 bytes
@board long-answer.toml
$ sh -c "ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x10 0x01 | wc -w"
1023
$ trace RECEIVE_MSG_TRUNC.*msgid=3
ipmi RECEIVE_MSG_TRUNC addr_len=40 data_len=1024 -> ret=-1 errno=90 type=1 addr=si msgid=3 netfn=0x3f cmd=0x62 data_len=1024

## ipmitool reads the IPMC's device SDR repository and its sensors
$ ipmitool -I open sdr elist all
CPU Temp         | 01h | ok  |  3.1 | 45 degrees C
12V              | 02h | ok  |  7.1 | 12 Volts
Hot Swap         | 03h | ok  | 160.96 | Transition to M4
Mezzanine        | 00h | ns  | 11.1 | Logical FRU @01h
$ trace 'netfn=0x04 cmd=0x2[02] |cmd=0x21 data=0100000[02]0005'
ipmi SEND_COMMAND msgid=4 addr=si lun=0 netfn=0x04 cmd=0x20 data= -> ret=0 errno=0 ccode=0x00 data=0301
ipmi SEND_COMMAND msgid=5 addr=si lun=0 netfn=0x04 cmd=0x22 data= -> ret=0 errno=0 ccode=0x00 data=0100
ipmi SEND_COMMAND msgid=6 addr=si lun=0 netfn=0x04 cmd=0x21 data=010000000005 -> ret=0 errno=0 ccode=0x00 data=02000100510133
ipmi SEND_COMMAND msgid=18 addr=si lun=0 netfn=0x04 cmd=0x21 data=010000020005 -> ret=0 errno=0 ccode=0x00 data=ffff0002511114
$ ipmitool -I open sensor
CPU Temp         | 45.000     | degrees C  | ok    | na        | na        | na        | 80.000    | 90.000    | 100.000   
12V              | 12.000     | Volts      | ok    | na        | 10.200    | 10.800    | 13.200    | 13.800    | na        
Hot Swap         | 0x10       | discrete   | 0x1000| na        | na        | na        | na        | na        | na        
$ ipmitool -I open mc selftest
Selftest: passed
$ bmc-device --driver-type=OPENIPMI --get-self-test-results
Self Test Result : No Error

## a threshold set with ipmitool holds in later runs, and the status follows it
$ ipmitool -I open sensor thresh "CPU Temp" unc 40
Locating sensor record 'CPU Temp'...
Setting sensor "CPU Temp" Upper Non-Critical threshold to 40.000
$ trace 'cmd=0x26 data='
ipmi SEND_COMMAND msgid=11 addr=si lun=0 netfn=0x04 cmd=0x26 data=0108000000280000 -> ret=0 errno=0 ccode=0x00 data=
$ ipmitool -I open sdr elist full
CPU Temp         | 01h | unc |  3.1 | 45 degrees C
12V              | 02h | ok  |  7.1 | 12 Volts
$ ipmitool -I open sensor get "CPU Temp" | grep Upper
 Status                : Upper Non-Critical
 Upper Non-Critical    : 40.000
 Upper Critical        : 90.000
 Upper Non-Recoverable : 100.000

## on a rich board ipmitool converts every kind of analog sensor and shows the others
@board rich.toml
$ ipmitool -I open sdr elist all
IPMC             | 00h | ok  | 160.96 | Dynamic MC @ 82h
Temp Inlet       | 01h | ok  |  7.1 | 25 degrees C
Temp Board       | 02h | lnc |  7.2 | -10 degrees C
Temp Ambient     | 03h | lcr |  7.3 | -25 degrees C
Temp Remote      | 04h | ok  |  3.2 | 50 degrees C
Current          | 05h | ok  |  7.1 | 1.56 Amps
12V Main         | 06h | ok  |  7.1 | 12 Volts
Fan 1            | 07h | ok  | 29.1 | 6005 RPM
Vin Slew         | 08h | ok  |  7.1 | 0.50 Volts/mill
Energy           | 09h | ok  |  7.1 | 300 Watts*hour
Fan 2            | 0Ah | ok  | 29.2 | 8333.33 RPM
Temp Spare       | 0Bh | ns  |  7.3 | No Reading
Slot Present     | 0Ch | ok  | 160.96 | Present
Hot Swap         | 0Dh | ok  | 160.96 | Transition to M4
Power Good       | 0Eh | ok  | 10.1 | Presence detected
Watchdog         | 0Fh | ns  | 160.96 | Event-Only
AMC 1            | 00h | ns  | 193.97 | Logical FRU @05h
Mezzanine        | 00h | ns  | 11.1 | Logical FRU @01h
$ ipmitool -I open sensor
Temp Inlet       | 25.000     | degrees C  | ok    | 2.000     | 5.000     | 10.000    | 40.000    | 50.000    | 60.000    
Temp Board       | -10.000    | degrees C  | nc    | -40.000   | -20.000   | -5.000    | 70.000    | 85.000    | 100.000   
Temp Ambient     | -25.000    | degrees C  | cr    | -30.000   | -20.000   | -10.000   | 45.000    | 55.000    | na        
Temp Remote      | 50.000     | degrees C  | ok    | na        | na        | na        | na        | na        | na        
Current          | 1.560      | Amps       | ok    | na        | na        | na        | 3.000     | 3.500     | na        
12V Main         | 12.000     | Volts      | ok    | na        | 11.504    | 11.712    | 12.288    | 12.496    | na        
Fan 1            | 6005.000   | RPM        | ok    | 605.000   | 1205.000  | 1805.000  | na        | na        | na        
Vin Slew         | 0.500      | Volts/millisecond | ok    | na        | na        | na        | na        | na        | na        
Energy           | 300.000    | Watts*hour | ok    | na        | na        | na        | na        | na        | na        
Fan 2            | 8333.333   | RPM        | ok    | na        | na        | na        | na        | na        | na        
Temp Spare       | na         | degrees C  | na    | na        | na        | na        | 80.000    | na        | na        
Slot Present     | 0x1        | discrete   | 0x0100| na        | na        | na        | na        | na        | na        
Hot Swap         | 0x10       | discrete   | 0x1000| na        | na        | na        | na        | na        | na        
Power Good       | 0x1        | discrete   | 0x0100| na        | na        | na        | na        | na        | na        
$ ipmitool -I open sdr get "Vin Slew" | grep Reading
 Sensor Reading        : 0.500 (+/- 0) Volts/millisecond
 Nominal Reading       : 0.500
$ ipmitool -I open -- sensor thresh "Temp Board" lower -40 -20 -12
Locating sensor record 'Temp Board'...
Setting sensor "Temp Board" Lower Non-Recoverable threshold to -40.000
Setting sensor "Temp Board" Lower Critical threshold to -20.000
Setting sensor "Temp Board" Lower Non-Critical threshold to -12.000
$ ipmitool -I open sensor get "Temp Board" | grep "Status|Lower"
 Status                : ok
 Lower Non-Recoverable : -40.000
 Lower Critical        : -20.000
 Lower Non-Critical    : -12.000

## a failed self-test shows with its detail byte
@board selftest-fails.toml
$ ipmitool -I open mc selftest
Selftest: device corrupted
Internal Use Area corrupted
[1]
$ bmc-device --driver-type=OPENIPMI --get-self-test-results | grep "Result|failed"
Self Test Result                                  : Corrupted or inaccessible data or devices
Internal Use Area of BMC FRU corrupted            : failed

## an IPMC that returns 16 bytes at a time: ipmitool asks for less until it is answered
@board sdr-limit.toml
$ ipmitool -I open sdr elist all
CPU Temp         | 01h | ok  |  3.1 | 45 degrees C
12V              | 02h | ok  |  7.1 | 12 Volts
Hot Swap         | 03h | ok  | 160.96 | Transition to M4
Mezzanine        | 00h | ns  | 11.1 | Logical FRU @01h
$ trace 'cmd=0x21 data=01000100.* ccode=0x00'
ipmi SEND_COMMAND msgid=24 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001000510 -> ret=0 errno=0 ccode=0x00 data=020082000103017f68010100000070383800
ipmi SEND_COMMAND msgid=25 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001001510 -> ret=0 errno=0 ccode=0x00 data=0200010000010000000000012d0000ff0064
ipmi SEND_COMMAND msgid=26 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001002510 -> ret=0 errno=0 ccode=0x00 data=02005a500000000000000000c84350552054
ipmi SEND_COMMAND msgid=27 addr=si lun=0 netfn=0x04 cmd=0x21 data=010001003503 -> ret=0 errno=0 ccode=0x00 data=0200656d70
$ trace ccode=0xca | grep -c .
17

## a reservation cancelled in the middle of a record: ipmitool reserves again
@board sdr-cancelled.toml
$ ipmitool -I open sdr elist all | grep Mezzanine
Mezzanine        | 00h | ns  | 11.1 | Logical FRU @01h
$ trace 'ccode=0xc5|cmd=0x22 data=|data=0[12]000002'
ipmi SEND_COMMAND msgid=5 addr=si lun=0 netfn=0x04 cmd=0x22 data= -> ret=0 errno=0 ccode=0x00 data=0100
ipmi SEND_COMMAND msgid=18 addr=si lun=0 netfn=0x04 cmd=0x21 data=010000020005 -> ret=0 errno=0 ccode=0x00 data=ffff0002511114
ipmi SEND_COMMAND msgid=19 addr=si lun=0 netfn=0x04 cmd=0x21 data=010000020514 -> ret=0 errno=0 ccode=0xc5 data=
ipmi SEND_COMMAND msgid=20 addr=si lun=0 netfn=0x04 cmd=0x22 data= -> ret=0 errno=0 ccode=0x00 data=0200
ipmi SEND_COMMAND msgid=21 addr=si lun=0 netfn=0x04 cmd=0x21 data=020000020514 -> ret=0 errno=0 ccode=0x00 data=ffff820180000010020b0100c94d657a7a616e696e65

## a record that changed three times while read: ipmitool reads it again
@board sdr-changed.toml
$ ipmitool -I open sdr elist all | grep Mezzanine
Mezzanine        | 00h | ns  | 11.1 | Logical FRU @01h
$ trace 'ccode=0x80' | grep -c .
3

## an empty repository: ipmitool finds no record 0x0000, tries it five times and lists nothing
@board no-sdr-0200.toml
$ ipmitool -I open sdr elist all
2> Get SDR 0000 command failed: Requested sensor, data, or record not found
2> Get SDR 0000 command failed: Requested sensor, data, or record not found
2> Get SDR 0000 command failed: Requested sensor, data, or record not found
2> Get SDR 0000 command failed: Requested sensor, data, or record not found
2> Get SDR 0000 command failed: Requested sensor, data, or record not found
$ trace 'cmd=0x21 .*ccode=0xcb' | grep -c .
5

## without the driver neither client finds the device
@board ipmi-absent.toml
$ ipmitool -I open mc info
[1]
$ bmc-info --driver-type=OPENIPMI --get-device-id
[1]
$ trace .
ipmi open flags=0x00000002 -> ret=-1 errno=2
ipmi open flags=0x00000002 -> ret=-1 errno=2
