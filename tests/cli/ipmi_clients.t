# Public IPMI clients on the simulated board: they reach the IPMC through
# /dev/ipmi0 as they would on the board. These run on the build host only.
# (What they show of sensors, FRUs and PICMG is the *_vs_* and *_clients tests'.)

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

## FreeIPMI's bmc-info shows the IPMC's identity from the board file
$ bmc-info --driver-type=OPENIPMI --get-device-id | grep "^(Firmware|Manufacturer|Product)"
Firmware Revision     : 1.05
Manufacturer ID       : Example Enterprise Number for Documentation Use (32473)
Product ID            : 12576
$ trace RECEIVE
ipmi RECEIVE_MSG_TRUNC addr_len=8 data_len=1024 -> ret=0 errno=0 type=1 addr=si msgid=0 netfn=0x07 cmd=0x01 data_len=16

## a raw write shows in a later read, also in a later run; read-only registers keep theirs
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x55 0x00 0xa5 0xff
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x55 0x01
 a5
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0xfd 0x00 0x00 0xff
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0xfd 0x01
 b5
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x00 0x10 0x01
[1]
$ trace ccode=0xd4
ipmi SEND_COMMAND msgid=3 addr=si lun=0 netfn=0x3e cmd=0x62 data=7e31b6001001 -> ret=0 errno=0 ccode=0xd4 data=

## an answer longer than the client's buffer arrives cut to 1024 bytes
@board long-answer.toml
$ sh -c "ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x10 0x01 | wc -w"
1023
$ trace RECEIVE_MSG_TRUNC.*msgid=3
ipmi RECEIVE_MSG_TRUNC addr_len=40 data_len=1024 -> ret=-1 errno=90 type=1 addr=si msgid=3 netfn=0x3f cmd=0x62 data_len=1024

## a threshold set with ipmitool holds in later runs, and the status follows it
$ ipmitool -I open sensor thresh "CPU Temp" unc 40
Locating sensor record 'CPU Temp'...
Setting sensor "CPU Temp" Upper Non-Critical threshold to 40.000
$ ipmitool -I open sdr elist full
CPU Temp         | 01h | unc |  3.1 | 45 degrees C
12V              | 02h | ok  |  7.1 | 12 Volts

## an IPMC that returns 16 bytes at a time: ipmitool asks for less until it is answered
@board sdr-limit.toml
$ ipmitool -I open sdr elist all | grep -c .
4
$ trace ccode=0xca | grep -c .
17

## a reservation cancelled in the middle of a record: ipmitool reserves again
@board sdr-cancelled.toml
$ ipmitool -I open sdr elist all | grep Mezzanine
Mezzanine        | 00h | ns  | 11.1 | Logical FRU @01h
$ trace 'ccode=0xc5|cmd=0x22 data=' | grep -c .
3

## without the driver neither client finds the device
@board ipmi-absent.toml
$ ipmitool -I open mc info
[1]
$ bmc-info --driver-type=OPENIPMI --get-device-id
[1]
$ trace .
ipmi open flags=0x00000002 -> ret=-1 errno=2
ipmi open flags=0x00000002 -> ret=-1 errno=2
