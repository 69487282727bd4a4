# Start-up: options, their warnings, opening the register areas, the usage
# text and finding the command.

## no command word prints the usage text
$ hwregs
usage: hwregs <options> <command>

Options:
	-p        ignore CPLD PPC memory space
	-i        ignore CPLD IPMC memory space
	-f        force Piggy Back present (dont read boardinfo)
	-u        force Piggy Back not present (dont read boardinfo)

Commands:
	list	list all CPLD registers
	read	read one or more CPLD register
	write	write a value to one CPLD reg
	check	run a test command
	mfdcr	read one or more PPC DCR register
	mtdcr	write one PPC DCR register
[255]

## each option warns, as often as it is given, before or after the command word
$ hwregs -i read 0x10 -p -i
Warning: ignoring CPLD IPMC memory area
Warning: ignoring CPLD PPC memory area
Warning: ignoring CPLD IPMC memory area
reg: 0x10    value: ERROR
$ hwregs -f -x read 0x10
Warning: force presence of Piggy Back
Warning: unknown option ignored
reg: 0x10    value: 0x0c

## -f with -u is refused before anything is opened
@board cpld-absent.toml
$ hwregs -f -u read 0x10
Warning: force presence of Piggy Back
Warning: ignoring board info data
cannot use -f and -u at the same time
[255]
$ trace .

## a missing CPLD driver stops the tool, unless the PPC area is ignored
@board cpld-absent.toml
$ hwregs read 0x10
Error: cannot open CPLD PPC memory register space
[255]
$ hwregs
Error: cannot open CPLD PPC memory register space
[255]
$ hwregs -p read 0x10
Warning: ignoring CPLD PPC memory area
reg: 0x10    value: ERROR

## a driver that refuses to open says why when logging is on
@board cpld-eacces.toml
@env HVL_LOG=DEFAULT:MINOR
$ hwregs read 0x10
TIME: CPLD: ERROR*MINOR*: global: : cpld.cpp(LINE cpld_open): cannot open /dev/cpld: Permission denied (13)
Error: cannot open CPLD PPC memory register space
[255]

## a failing version read fails the open
@board version-fails.toml
$ hwregs read 0x10
Error: cannot open CPLD PPC memory register space
[255]

## a command word may be shortened to any beginning of its name
$ hwregs r 0x10
reg: 0x10    value: 0x0c
$ hwregs m 0xc
dcr: 0x0c    value: 0x00000020
$ hwregs mt 0x0c 0x5
wrote dcr: 0x0c    value: 0x00000005

## an unknown or over-long command word exits with 255 and says nothing
$ hwregs reads 0x10
[255]
$ hwregs x
[255]
$ trace PPCREG_READ|DCR

## output that cannot be written is reported on standard error and fails the command
$ hwregs read 0x10 >/dev/full
2> hwregs: cannot write to standard output: No space left on device
[1]
$ hwregs write 0x100 1 >/dev/full
2> hwregs: cannot write to standard output: No space left on device
[234]

## a closed standard output is not taken by a device, and writing to it fails
@env HVL_LOG=DEFAULT:DEBUG
$ hwregs -i read 0x10 >&-
2> hwregs: cannot write to standard output: Bad file descriptor
[1]
$ trace ^cpld open | grep -c .
1
$ trace 'open .*ret=[0-2] '
