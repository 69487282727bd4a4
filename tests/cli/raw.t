# The raw commands: PPC-area registers by offset, DCRs by number.

## read takes numbers in any base
$ hwregs read 16 0375 0xfe
reg: 0x10    value: 0x0c
reg: 0xfd    value: 0xb5
reg: 0xfe    value: 0x14

## writes show up in a later run; a value above 8 bits is warned about and cut, 0xff is not
$ hwregs write 0x11 90
$ hwregs write 0x55 0xff
$ hwregs write 0xaa 0x100
Warning: register value greater than 8 bit
$ hwregs read 0x11 0x55 0xaa
reg: 0x11    value: 0x5a
reg: 0x55    value: 0xff
reg: 0xaa    value: 0x00

## numbers beyond 32 bits saturate as the board's strtol and strtoul make them;
# a failing write prints ERROR and exits with the driver's result
$ hwregs -i write 4294967296 0x33
Warning: ignoring CPLD IPMC memory area
ERROR
[234]
$ hwregs -i write 0x55 -- -4294967295
Warning: ignoring CPLD IPMC memory area
$ hwregs -i read 0 0x55
Warning: ignoring CPLD IPMC memory area
reg: 0x00    value: 0x3f
reg: 0x55    value: 0x01
$ hwregs -p -i -- read 2147483647 2147483648 4294967296 99999999999999999999 -1 -2147483649
Warning: ignoring CPLD PPC memory area
Warning: ignoring CPLD IPMC memory area
reg: 0x7fffffff    value: ERROR
reg: 0x7fffffff    value: ERROR
reg: 0x7fffffff    value: ERROR
reg: 0x7fffffff    value: ERROR
reg: 0xffffffff    value: ERROR
reg: 0x80000000    value: ERROR
$ hwregs -p -i -- mfdcr 4294967295 0x100000000 -1 -2147483649 -4294967295 -4294967296 " -0x10"
Warning: ignoring CPLD PPC memory area
Warning: ignoring CPLD IPMC memory area
dcr: 0xffffffff    value: ERROR
dcr: 0xffffffff    value: ERROR
dcr: 0xffffffff    value: ERROR
dcr: 0x7fffffff    value: ERROR
dcr: 0x01    value: ERROR
dcr: 0xffffffff    value: ERROR
dcr: 0xfffffff0    value: ERROR

## a read-only register keeps its value
$ hwregs write 0x10 0x99
$ hwregs read 0x10
reg: 0x10    value: 0x0c

## a driver result other than 0 is a failure
@board rc-5.toml
$ hwregs read 0x10 0xfd
reg: 0x10    value: ERROR
reg: 0xfd    value: 0xb5

## a write that reads back wrong is seen by the next read
@board readback.toml
$ hwregs write 0x55 0x0f
$ hwregs read 0x55
reg: 0x55    value: 0x0f

## each command shows its help line for too few words or a word beginning with help
$ hwregs read
read <register 0> ... <register N>
[255]
$ hwregs read helpme
read <register 0> ... <register N>
[255]
$ hwregs write 0x11
write <register> <value>
[255]
$ hwregs mfdcr
mfdcr <register 0> ... <register N>
[255]
$ hwregs mtdcr help 1
mtdcr <register> <value>
[255]
$ trace PPCREG|DCR

## a word beginning with a minus sign is an option wherever it stands
$ hwregs mtdcr 0x10 -1
Warning: unknown option ignored
mtdcr <register> <value>
[255]

## DCRs read and write 32-bit values; failures are reported per number
@board dcr-fails.toml
$ hwregs mtdcr 0x10 0xdeadbeef
wrote dcr: 0x10    value: 0xdeadbeef
$ hwregs mfdcr 0x10 0x0c 0x11
dcr: 0x10    value: 0xdeadbeef
dcr: 0x0c    value: ERROR
dcr: 0x11    value: 0x00000000
$ hwregs mtdcr 0x400 1
dcr: 0x400    value: ERROR
[234]
