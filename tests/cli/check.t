# check: the default-value check and the access tests of the test registers.

## check without a test, or with a word beginning with help, lists the tests
$ hwregs check
default     - checks registers for default values
accppc      - checks ppc register access (databus and small mem test)
accipmc     - checks ipmc register access (databus and small mem test)
[255]
$ hwregs check helpful | grep -c .
3
[255]
$ hwregs check defaul
invalid check command
[255]

## with -i the default check still opens the IPMC area but shows none of its rows
$ hwregs -i check default | grep -c 'IPMC\)'
0
$ trace netfn=0x2c cmd=0x01 | grep -c .
2

## a register that differs from its default fails its row, and the check goes on
$ hwregs write 0x55 0x01
$ hwregs check default | grep 'TEST_A|failed'
PPC_TEST_A_REG       (0x55 PPC ):	0x01 (0x00:0xff)	Test Register A                         	failed
IPMC_TEST_A_REG      (0x55 IPMC):	0x00 (0x00:0xff)	Test Register A                         	passed
[255]

## a register that cannot be read fails its row
@board post-low-fails.toml
$ hwregs check default | grep POST_LOW_REG
POST_LOW_REG         (0x00 PPC ):	failed to read register
[255]

## accppc writes and reads back 400 patterns and restores the test registers
$ hwregs write 0x55 0x12
$ hwregs write 0xaa 0x34
$ hwregs check accppc
test completed successfully for PPC
$ trace PPCREG_WRITE param0=0x000000(55|aa) | grep -c .
404
$ hwregs read 0x55 0xaa
reg: 0x55    value: 0x12
reg: 0xaa    value: 0x34

## accipmc makes 80 write and read-back pairs through the IPMC
$ hwregs check accipm
test completed successfully for IPMC
$ trace SEND_COMMAND.*cmd=0x62 | grep -c .
164

## accppc stops at the first mismatch and leaves the test pattern in place
@board test-a-sticks.toml
$ hwregs check accppc
test failed for reg 0x55 (PPC): wrote 0x55 read 0x54
[255]
$ hwregs read 0x55 0xaa
reg: 0x55    value: 0x54
reg: 0xaa    value: 0x55

## an access test of an ignored area touches no register
$ hwregs -i check accipmc
Warning: ignoring CPLD IPMC memory area
WARNING: test ignored due to missing memory access
[255]
$ trace SEND_COMMAND.*cmd=0x62 | grep -c .
0

## the default check detects the mezzanine, expects its defaults, then one exchange a row
# Address info at start-up; the detection's own interface: address info,
# device ID and engineering record, device ID, SDR info, reservation, header
# and record 0x0200; the IPMC area opened again; 28 registers. The record's
# 20 bytes come in one piece.
$ hwregs check defaultx | grep -c passed
57
$ trace SEND_COMMAND | grep -c .
38
$ trace SEND_COMMAND.*netfn=0x04 cmd=0x21
ipmi SEND_COMMAND msgid=7 addr=si lun=0 netfn=0x04 cmd=0x21 data=010000020005 -> ret=0 errno=0 ccode=0x00 data=ffff0002511114
ipmi SEND_COMMAND msgid=8 addr=si lun=0 netfn=0x04 cmd=0x21 data=010000020514 -> ret=0 errno=0 ccode=0x00 data=ffff820180000010020b0100c94d657a7a616e696e65

## with -u the piggy-back rows expect 0x00 and the board is not asked
$ hwregs -u check default | grep PIGGY
PIGGY_BACK_CONTROL_REG (0x14 IPMC):	0x04 (0x00:0xff)	Piggy Back Control Register             	failed
PIGGY_BACK_STATUS_REG (0x15 IPMC):	0x05 (0x00:0xff)	Piggy Back Status Register              	failed
[255]
$ trace netfn=0x(30|04|06) | grep -c .
0

## with -f the piggy-back rows expect 0x04 and 0x05 and the board is not asked
@board no-mezzanine.toml
$ hwregs -f check default | grep 'Warning|PIGGY'
Warning: force presence of Piggy Back
PIGGY_BACK_CONTROL_REG (0x14 IPMC):	0x00 (0x04:0xff)	Piggy Back Control Register             	failed
PIGGY_BACK_STATUS_REG (0x15 IPMC):	0x00 (0x05:0xff)	Piggy Back Status Register              	failed
[255]
$ trace netfn=0x(30|04|06) | grep -c .
0

## without the mezzanine flag the detection stops at the engineering options
@board no-mezzanine.toml
$ hwregs check default | grep -c passed
57
$ trace netfn=0x(04|06) | grep -c .
1

## the detection reads record 0x0200 in smaller pieces from an IPMC with a transfer limit
@board sdr-limit.toml
$ hwregs check default | grep -c passed
57
# The header, 20 bytes refused four times, then pieces of 14 and 6.
$ trace SEND_COMMAND.*cmd=0x21 | grep -c .
7

## a detection that fails counts the piggy-back as absent
@board eng-corrupt.toml
$ hwregs check default | grep -c 'PIGGY.*0x00:0xff.*failed'
2
[255]

## without record 0x0200 the piggy-back counts as absent
@board no-sdr-0200.toml
$ hwregs check default | grep -c 'PIGGY.*0x00:0xff.*failed'
2
[255]
