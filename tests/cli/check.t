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
$ hwregs -p check accppc
Warning: ignoring CPLD PPC memory area
WARNING: test ignored due to missing memory access
[255]
$ hwregs -i check accipmc
Warning: ignoring CPLD IPMC memory area
WARNING: test ignored due to missing memory access
[255]
$ trace PPCREG|SEND_COMMAND.*cmd=0x62 | grep -c .
0
