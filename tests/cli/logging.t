# Log output: HVL_LOG enables levels, HVL_LOG_TARGET picks where they go.

## DEBUG shows every driver request with its result; level words and DEFAULT ignore case
@env HVL_LOG=default:Debug
$ hwregs -i read 0x10
Warning: ignoring CPLD IPMC memory area
TIME: CPLD: DBUG: global: : cpld.cpp(LINE cpld_cmd_send): ioctl returned no error io->rc 0
TIME: CPLD: TRCE: global: : cpld.cpp(LINE cpld_open): found CPLD version 12
TIME: CPLD: DBUG: global: : cpld.cpp(LINE cpld_cmd_send): ioctl returned no error io->rc 0
reg: 0x10    value: 0x0c

## a failing driver request is logged with errno text and number; the next offset still reads
@board ioctl-eio.toml
@env HVL_LOG=DEFAULT:MINOR
$ hwregs read 0x10 0x11
TIME: CPLD: ERROR*MINOR*: global: : cpld.cpp(LINE cpld_ppcreg_read): ioctl failed: Input/output error (5)
reg: 0x10    value: ERROR
reg: 0x11    value: 0x10

## the syslog target takes the lines off the console; console must be spelt in capitals
@env HVL_LOG=DEFAULT:DEBUG
@env HVL_LOG_TARGET=SYSLOG
$ hwregs read 0x10
reg: 0x10    value: 0x0c

## lower-case target words leave no target at all
@env HVL_LOG=DEFAULT:DEBUG
@env HVL_LOG_TARGET=console
$ hwregs read 0x10
reg: 0x10    value: 0x0c

## DEBUG shows the IPMC's answers as they arrive, completion code included
@env HVL_LOG=DEFAULT:DEBUG
$ hwregs -p read 0x10
Warning: ignoring CPLD PPC memory area
TIME: CPLD: TRCE: global: : open.cpp(LINE ipmi_openipmi_open): Opened /dev/ipmi0 as FD 3
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd): Got message:
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   type      = 1 
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   channel   = 0xf 
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   msgid     = 0 
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   netfn     = 0x2d 
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   cmd       = 0x1 
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   data_len  = 8 
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_send_cmd):   data      = 00004182ff000100 
TIME: CPLD: TRCE: global: : cpld.cpp(LINE cpld_cmd_send): CPLD driver not open
TIME: CPLD: ERROR*MINOR*: global: : cpld.cpp(LINE cpld_ppcreg_read): ioctl failed: Success (0)
reg: 0x10    value: ERROR
TIME: CPLD: DBUG: global: : open.cpp(LINE ipmi_openipmi_close): Closing FD 3
