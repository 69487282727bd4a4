# list: every register of both areas with its value and description.

## the default board lists the 57 registers at their reset values, one IPMI
# exchange for the address and one for each IPMC-area register
# The exact listing of both areas stands here alone; the cases below compare
# only the rows their variation changes.
$ hwregs list
POST_LOW_REG         (0x00 PPC )	: 0x3f	lower 8 bit of POST code                
POST_HIGH_REG        (0x01 PPC )	: 0x00	higher 8 bit of POST code               
KCS_CTL_REG          (0x02 PPC )	: 0x00	PPC Reset Status Control                
VERSION_REG          (0x10 PPC )	: 0x0c	CPLD Version Register                   
DEBUG_LED_REG        (0x11 PPC )	: 0x10	Debug LED Register                      
VELM_REG             (0x12 PPC )	: 0x22	VELM Control and Status Register        
FPGA_INT_EN_REG      (0x13 PPC )	: 0x00	Interrupt Enable Register               
IPMC_INT_A_EN_REG    (0x14 PPC )	: 0x00	IPMC Interrupt Register A               
IPMC_INT_B_EN_REG    (0x15 PPC )	: 0x08	IPMC Interrupt Register B               
FPGA_INT_STATUS_REG  (0x16 PPC )	: 0x00	Interrupt status Register               
IPMC_INT_A_STATUS_REG (0x17 PPC )	: 0x00	IPMC Interrupt status Register A        
IPMC_INT_B_STATUS_REG (0x18 PPC )	: 0x00	IPMC Interrupt status Register B        
IPMC_USER_LED_REG    (0x19 PPC )	: 0x00	User LED Register                       
LPC_CTRL_REG         (0x2f PPC )	: 0x00	LPC FIFO Control Register               
LPC_WRITE_ADDR0      (0x30 PPC )	: 0x00	LPC Write ADDR0 Register                
LPC_WRITE_ADDR1      (0x31 PPC )	: 0x00	LPC Write ADDR0 Register                
LPC_WRITE_ADDR2      (0x32 PPC )	: 0x00	LPC Write ADDR0 Register                
LPC_WRITE_FIFO       (0x33 PPC )	: 0x00	LPC Write FIFO Register                 
LPC_READ_ADDR0       (0x34 PPC )	: 0x00	LPC Read ADDR0 Register                 
LPC_READ_ADDR1       (0x35 PPC )	: 0x00	LPC Read ADDR0 Register                 
LPC_READ_ADDR2       (0x36 PPC )	: 0x00	LPC Read ADDR0 Register                 
LPC_READ_COUNT       (0x37 PPC )	: 0x00	LPC Read count Register                 
LPC_READ_FIFO        (0x38 PPC )	: 0x00	LPC Read FIFO Register                  
LPC_WRITE_STATUS     (0x39 PPC )	: 0x02	LPC Write Status Register               
LPC_READ_STATUS      (0x3a PPC )	: 0x02	LPC Read Status Register                
PPC_TEST_A_REG       (0x55 PPC )	: 0x00	Test Register A                         
PPC_TEST_B_REG       (0xaa PPC )	: 0x00	Test Register B                         
PPC_BOARD_ID_LOW_REG (0xfd PPC )	: 0xb5	Board ID Low Register                   
PPC_BOARD_ID_HIGH_REG (0xfe PPC )	: 0x14	Board ID High Register                  
BOARD_CONTROL_REG    (0x00 IPMC)	: 0x40	Board Control Register                  
BOARD_STATUS_REG     (0x01 IPMC)	: 0x7c	Board Status Register                   
POST_LOW_IPMC_REG    (0x02 IPMC)	: 0x3f	lower 8 bit of Post code as seen by IPMC
POST_HIGH_IPMC_REG   (0x03 IPMC)	: 0x00	higher 8 bit of Post code as seen by IPMC
KCS_CTL_REG          (0x04 IPMC)	: 0x00	PPC Reset Status Control                
DBG_LED_CTL_REG      (0x06 IPMC)	: 0x00	Debug LED Control Register              
LED_CONTROL_REG      (0x07 IPMC)	: 0x00	LED Control Register                    
MDIO_SELECT_REG      (0x08 IPMC)	: 0x00	MDIO Selection Register                 
CLOCK_SYNC1_REG      (0x09 IPMC)	: 0x00	Clock Synchronisation Control 1 Register
CLOCK_SYNC2_REG      (0x0a IPMC)	: 0x00	Clock Synchronisation Control 2 Register
UPDATE_CHANNEL_CONTROL_REG (0x0b IPMC)	: 0x01	Update Channel Control Register         
AMC1_CONTROL_REG     (0x10 IPMC)	: 0x0f	AMC 1 Control Register                  
AMC1_STATUS_REG      (0x11 IPMC)	: 0x15	AMC 1 Status Register                   
AMC2_CONTROL_REG     (0x12 IPMC)	: 0x0f	AMC 2 Control Register                  
AMC2_STATUS_REG      (0x13 IPMC)	: 0x15	AMC 2 Status Register                   
PIGGY_BACK_CONTROL_REG (0x14 IPMC)	: 0x04	Piggy Back Control Register             
PIGGY_BACK_STATUS_REG (0x15 IPMC)	: 0x05	Piggy Back Status Register              
RTM_CONTOL_REG       (0x16 IPMC)	: 0x03	RTM Control Register                    
RTM_STATUS_REG       (0x17 IPMC)	: 0x30	RTM Status Register                     
CPU_STATUS_REG       (0x19 IPMC)	: 0x01	CPU Status Register                     
INT_REQ_REG          (0x26 IPMC)	: 0x00	Interrupt Request Register              
RESET_SOURCE_REG     (0x27 IPMC)	: 0x00	Reset Source Register                   
USER_LED_CONTROL_REG (0x29 IPMC)	: 0x00	User LED Control Register               
IPMC_TEST_A_REG      (0x55 IPMC)	: 0x00	Test Register A                         
IPMC_TEST_B_REG      (0xaa IPMC)	: 0x00	Test Register B                         
IPMC_BOARD_ID_LOW_REG (0xfd IPMC)	: 0xb5	Board ID Low Register                   
IPMC_BOARD_ID_HIGH_REG (0xfe IPMC)	: 0x14	Board ID High Register                  
CPLD_VERSION_REG     (0xff IPMC)	: 0x0c	CPLD Version Register                   
$ trace ^ipmi SEND_COMMAND | grep -c .
29
$ trace ^ipmi SEND_COMMAND msgid=[01] addr
ipmi SEND_COMMAND msgid=0 addr=si lun=0 netfn=0x2c cmd=0x01 data=00 -> ret=0 errno=0 ccode=0x00 data=004182ff000100
ipmi SEND_COMMAND msgid=1 addr=si lun=3 netfn=0x3e cmd=0x62 data=7e31b60f0001 -> ret=0 errno=0 ccode=0x00 data=40

## words after list are ignored, help included
$ hwregs list help | grep -c '^[A-Z_0-9]+ +\(0x.. (PPC |IPMC)\)	: 0x'
57

## -i leaves out the IPMC area and does not open it
$ hwregs -i list | grep 'Warning|IPMC\)|^POST_LOW_REG|^PPC_BOARD_ID_HIGH'
Warning: ignoring CPLD IPMC memory area
POST_LOW_REG         (0x00 PPC )	: 0x3f	lower 8 bit of POST code                
PPC_BOARD_ID_HIGH_REG (0xfe PPC )	: 0x14	Board ID High Register                  
$ trace ^ipmi

## -p leaves out the PPC area and does not open the driver
$ hwregs -p list | grep 'Warning|PPC \)|^BOARD_CONTROL|^CPLD_VERSION'
Warning: ignoring CPLD PPC memory area
BOARD_CONTROL_REG    (0x00 IPMC)	: 0x40	Board Control Register                  
CPLD_VERSION_REG     (0xff IPMC)	: 0x0c	CPLD Version Register                   
$ trace ^cpld

## a register that fails to read shows ERROR and the walk goes on
@board cpldreg-ccode.toml
$ hwregs -p list | grep '^AMC1|^CPLD_VERSION'
AMC1_CONTROL_REG     (0x10 IPMC)	: ERROR
AMC1_STATUS_REG      (0x11 IPMC)	: 0x15	AMC 1 Status Register                   
CPLD_VERSION_REG     (0xff IPMC)	: 0x0c	CPLD Version Register                   

## an answer without even a completion code is a failed read
@board empty-answer.toml
$ hwregs -p list | grep ERROR
AMC1_CONTROL_REG     (0x10 IPMC)	: ERROR

## an answer the driver cuts is a failed read
@board long-answer.toml
$ hwregs -p list | grep ERROR
AMC1_CONTROL_REG     (0x10 IPMC)	: ERROR

## without the mezzanine the piggy-back registers read 0x00
@board no-mezzanine.toml
$ hwregs -p list | grep PIGGY
PIGGY_BACK_CONTROL_REG (0x14 IPMC)	: 0x00	Piggy Back Control Register             
PIGGY_BACK_STATUS_REG (0x15 IPMC)	: 0x00	Piggy Back Status Register              

## a register written through the IPMC shows up in a later list
$ ipmitool -I open raw 0x3e 0x62 0x7e 0x31 0xb6 0x0f 0x55 0x00 0xa5 0xff
$ hwregs -p list | grep TEST_A
IPMC_TEST_A_REG      (0x55 IPMC)	: 0xa5	Test Register A                         

## an IPMC that cannot be reached stops the tool before the command
@board ipmi-absent.toml
$ hwregs list
Error: cannot open CPLD IPMC memory register space
[255]
$ hwregs -i read 0x10
Warning: ignoring CPLD IPMC memory area
reg: 0x10    value: 0x0c

## an IPMC that cannot give its address is still used
@board addrinfo-c1.toml
$ hwregs -p list | grep -c 'IPMC\)	: 0x'
28

## an IPMC that refuses the address query otherwise is not used
@board addrinfo-cc.toml
@env HVL_LOG=DEFAULT:MINOR
$ hwregs list
TIME: CPLD: ERROR*MINOR*: global: : open.cpp(LINE ipmi_adjust_addr): cannot readjust ipmb address /dev/ipmi0: 204
TIME: CPLD: ERROR*MINOR*: global: : cpld_area.cpp(LINE cpld_open): cannot open /dev/ipmi0/: Success (0)
Error: cannot open CPLD IPMC memory register space
[255]
