# hwboard on the simulated boards: one table of each report, the variations
# of it only on the lines they change; the boards whose engineering options
# fail their CRC, controllers behind the IPMC, PICMG queries, threshold and
# configuration writes (kept across runs; refused on options that fail their
# CRC unless forced), and bad input with status 2 and one line on standard
# error. hwboard_schema.py checks the JSON of every report, hwboard_vs_peers.py
# its values against ipmitool.

## every query of the default board as a table
$ hwboard devid
target           0x00
firmware         1.5
ipmi_version     1.5
manufacturer_id  32473
product_id       0x3120
aux_firmware     0x00,0x00
release          1.05,r0042,2019-06-14 IPMC firmware
$ hwboard selftest
passed      yes
state       passed
state_code  0
detail      0x00
$ hwboard board
options_crc_valid  yes
mezzanine          yes
mezzanine_fru_id   1
mac_fru            02:00:00:00:00:01
mac_options        02:00:00:00:00:01
$ hwboard mezzanine
result      0
fitted      yes
fru_id      1
option      0x00
board_area:
  result         0
  manufacturer   Example Systems
  product_name   PMC MEZZ
  part_number    PM-0200 
  serial_number  0964
  mfg_date       2019-09-06 00:00
$ hwboard mac
fru:
  result   0
  text     02:00:00:00:00:01
  address  02:00:00:00:00:01
  suffix   1
options:
  result   0
  text     02:00:00:00:00:01
  address  02:00:00:00:00:01
  suffix   1
same     yes
$ hwboard options
crc_valid         yes
crc               0x33
crc_computed      0x33
board_option      0x00
mezzanine         0x01
mezzanine_option  0x00
further           0x00,0x00,0x00
mac               02:00:00:00:00:01
mac_suffix        1
fcap              0x00,0x00,0x00
flags:
  name    byte  mask  set  description
  handle  1     0x01  no   Overwrites the functionality of the handle switch
$ hwboard fru
fru_id        0
board:
  result         0
  valid          yes
  mfg_minutes    12454560
  mfg_date       2019-09-06 00:00
  manufacturer   Example Systems
  product_name   PPC Board
  serial_number  B0000001
  part_number    PB-1400
  fru_file_id    FRU-1.0
  custom:
    index  type  length  text                     hex
    0      text  23      MAC=02:00:00:00:00:01/1  4d41433d30323a30303a30303a30303a30303a30312f31
    1      text  5       REV=B                    5245563d42
product:
  result         0
  valid          yes
  manufacturer   Example Systems
  product_name   PPC Service Board
  part_number    PB-1400-01
  version        REV-B
  serial_number  S0000001
  asset_tag      ASSET-0001
  fru_file_id    FRU-1.0
  custom         none
multirecords:
  result   0
  records:
    type  format  length  checksum
    0x00  0x02    24      0x63
    0x01  0x02    13      0xe4
    0xc0  0x02    7       0x48
$ hwboard fru 1 | grep 'custom|-13|records'
  custom         none
  custom         none
multirecords:
  result   -13
  records  none
$ hwboard sensor 12V
record_id   0x0002
number      0x02
name        12V
kind        analog
value       12.000
raw         200
unit        Volts
state       ok
thresholds:
  lnc  10.800
  lc   10.200
  lnr  -
  unc  13.200
  uc   13.800
  unr  -
details     -

## every kind of SDR record, signed readings and their states
@board rich.toml
$ hwboard sensors
sensors:
  record_id  number  name          kind         value     raw  unit               state           thresholds                                                          details
  0x0001     0x00    IPMC          mc-locator   -         -    -                  -               -                                                                   entity_id=0xa0 entity_instance=96 address=0x41 channel=0
  0x0002     0x01    Temp Inlet    analog       25.000    -    degrees C          ok              lnc=10.000 lc=5.000 lnr=2.000 unc=40.000 uc=50.000 unr=60.000       -
  0x0003     0x02    Temp Board    analog       -10.000   -    degrees C          non-critical    lnc=-5.000 lc=-20.000 lnr=-40.000 unc=70.000 uc=85.000 unr=100.000  -
  0x0004     0x03    Temp Ambient  analog       -25.000   -    degrees C          critical        lnc=-10.000 lc=-20.000 lnr=-30.000 unc=45.000 uc=55.000             -
  0x0005     0x04    Temp Remote   analog       50.000    -    degrees C          ok              -                                                                   -
  0x0006     0x05    Current       analog       1.560     -    Amps               ok              unc=3.000 uc=3.500                                                  -
  0x0007     0x06    12V Main      analog       12.000    -    Volts              ok              lnc=11.712 lc=11.504 unc=12.288 uc=12.496                           -
  0x0008     0x07    Fan 1         analog       6005.000  -    RPM                ok              lnc=1805.000 lc=1205.000 lnr=605.000                                -
  0x0009     0x08    Vin Slew      analog       0.500     -    Volts/millisecond  ok              -                                                                   -
  0x000a     0x09    Energy        analog       300.000   -    Watts * hour       ok              -                                                                   -
  0x000b     0x00                  none         -         -    -                  -               -                                                                   -
  0x000c     0x0b    Temp Spare    analog       -         -    degrees C          not-determined  unc=80.000                                                          -
  0x000d     0x0c    Slot Present  discrete     -         0    -                  -               -                                                                   type=Entity Presence states=0x0100
  0x000e     0x0d    Hot Swap      discrete     -         0    -                  -               -                                                                   type=OEM reserved states=0x1000
  0x000f     0x0e    Power Good    discrete     -         0    -                  -               -                                                                   type=Power Supply states=0x0100
  0x0010     0x0f    Watchdog      event-only   -         -    -                  -               -                                                                   type=Watchdog entity_id=0xa0 entity_instance=96 event_reading_type=0x6f
  0x0011     0x00    AMC 1         fru-locator  -         -    -                  -               -                                                                   entity_id=0xc1 entity_instance=97 address=0x41 channel=0 fru_id=5 logical=yes device_type=0x10 device_type_modifier=0x00
  0x0200     0x00    Mezzanine     fru-locator  -         -    -                  -               -                                                                   entity_id=0x0b entity_instance=1 address=0x41 channel=0 fru_id=1 logical=yes device_type=0x10 device_type_modifier=0x02
$ hwboard --json sensor 'Temp Board' | grep '"(value|raw|lnc|details)"'
  "value": -10.000,
  "raw": 246,
    "lnc": -5.000,
    "lnc": 251,
  "details": {}

## options that fail their CRC: options shows it, the queries that need them fail
@board eng-corrupt.toml
$ hwboard options | grep '^crc'
crc_valid         no
crc               0xcc
crc_computed      0x33
$ hwboard board
options_crc_valid  no
mezzanine          -
mezzanine_fru_id   -
mac_fru            02:00:00:00:00:01
mac_options        -
[1]
2> hwboard: board: the mezzanine query (engineering options fail their CRC) failed (result -5)
2> hwboard: board: the engineering options' MAC address failed (result -5)
$ hwboard mac | grep '^  result|^same'
  result   0
  result   -5
same     -
[1]
2> hwboard: mac: the engineering options' MAC address failed (result -5)
$ hwboard migrate
result            -1
crc_valid_before  no
crc_valid_after   no
changes           none
changed           no
[1]
2> hwboard: migrate: the migration failed (result -1)

## a board before its migration: no MAC text in the FRU, options never written; migrate says what it changed, once
@board migrate.toml
$ hwboard board | grep '^mac'
mac_fru            -
mac_options        -
[1]
2> hwboard: board: the mezzanine query (engineering options fail their CRC) failed (result -5)
2> hwboard: board: the engineering options' MAC address failed (result -5)
$ hwboard options | grep '^(crc_|mac )|handle'
crc_valid         no
crc_computed      0x66
mac               FF:FF:FF:FF:FF:FF
  handle  1     0x01  yes  Overwrites the functionality of the handle switch
$ hwboard fru | grep "binary"
    0      binary  7       -     02000000100103
    1      binary  32      -     0500010000000000000000000000000000000000000000000000000000000000
$ hwboard migrate
result            0
crc_valid_before  no
crc_valid_after   yes
changes:
  field             before        after
  board_option      ff            05
  mezzanine         ff            01
  mezzanine_option  ff            03
  further           ffffff        000000
  mac               ffffffffffff  020000001001
  mac_suffix        ff            03
  crc               ff            74
changed           yes
$ hwboard board | grep 'crc|^mac'
options_crc_valid  yes
mac_fru            -
mac_options        02:00:00:00:10:01
$ hwboard migrate | grep 'changes'
changes           none

## a board without the mezzanine
@board no-mezzanine.toml
$ hwboard board | grep '^mezzanine'
mezzanine          no
mezzanine_fru_id   -
$ hwboard mezzanine | grep '^(result|fitted)'
result      -12
fitted      no

## a failed self-test is reported, not failed
@board selftest-fails.toml
$ hwboard selftest
passed      no
state       corrupted
state_code  2
detail      0x04

## a FRU that is not there fails the query with the library's result
@board fru-absent.toml
$ hwboard fru
fru_id        0
board:
  result  -4
product:
  result  -4
multirecords:
  result   -4
  records  none
[1]
2> hwboard: fru: reading the board area failed (result -4)
2> hwboard: fru: reading the product area failed (result -4)
2> hwboard: fru: reading the multirecord area failed (result -4)

## controllers behind the IPMC, by FRU and by address
$ hwboard --fru 2 devid | grep '^(target|firmware|release)'
target           0x72
firmware         2.10
release          -
$ hwboard --target 0x74 devid
[1]
2> hwboard: devid: Get Device ID failed (result -4)
$ hwboard --fru 9 devid
[1]
2> hwboard: devid: finding the FRU's controller failed (result -4)

## PICMG of the IPMC: properties, addresses with site type, LEDs with local and override state, ports
$ hwboard picmg props
result             0
extension_version  2.3
max_fru_id         2
fru_id             0
$ hwboard picmg addr
result            0
hardware_address  0x41
ipmb0_address     0x82
fru_id            0
site_id           1
site_type         0x00
site_type_name    atca-board
ipmbl_address     -
$ hwboard picmg addr 2 | grep 'fru_id|site_type|ipmbl'
fru_id            2
site_type         0x07
site_type_name    amc
ipmbl_address     0x72
$ hwboard picmg led 0
fru_id  0
result  0
leds:
  led  states  function  colour_name  local                                                         override
  0    0x01    off       BLUE         function=off off_duration=0 on_duration=0 colour=0x01         -
  1    0x01    off       RED          function=off off_duration=0 on_duration=0 colour=0x02         -
  2    0x01    on        GREEN        function=on off_duration=0 on_duration=0 colour=0x03          -
  3    0x03    blinking  AMBER        function=blinking off_duration=50 on_duration=10 colour=0x04  function=on off_duration=0 on_duration=0 colour=0x05
$ hwboard picmg led 1 | grep '^result|^  2 '
result  -1
  2    0x01    on        GREEN        function=on off_duration=0 on_duration=0 colour=0x03            -
$ hwboard picmg port 0 2
interface  0
channel    2
result     0
enabled    no
links:
  ports  link_type  extension  group  enabled
  0x1    0x01       0          0      no
$ hwboard picmg port 1 5 | grep links
links      none
$ hwboard picmg amc 0 1
channel     0
device      1
result      0
link_count  1
lanes       0x3
group       1
protocol    PCIe Gen1 SSC - 8x
enabled     yes
$ hwboard --fru 2 picmg props | grep max_fru_id
max_fru_id         0
$ hwboard --target 0x72 picmg led 0 | grep -c blinking
1

## PICMG answers other tools decode otherwise: an AMC site without IPMB-L address, colours without a name, unknown link types
@board picmg-quirks.toml
$ hwboard picmg addr 3 | grep ipmbl
ipmbl_address     -
$ hwboard picmg led 3
fru_id  3
result  0
leds:
  led  states  function  colour_name  local                                                  override
  0    0x01    on        0x09         function=on off_duration=0 on_duration=0 colour=0x09   -
  1    0x01    on        reserved     function=on off_duration=0 on_duration=0 colour=0x07   -
  2    0x01    on        0x0f         function=on off_duration=0 on_duration=0 colour=0x0f   -
  3    0x01    off       reserved     function=off off_duration=0 on_duration=0 colour=0x00  -
$ hwboard picmg amc 0 | grep protocol
protocol    Unknown protocol

## thresholds: shown; set in the sensor's unit, the library rounding to raw; what changed; kept across runs
@board rich.toml
$ hwboard threshold 'Temp Board' | grep '^  unc|^changes'
  unc        yes       70.000   70
changes     none
$ hwboard threshold 'Temp Board' unc 75 -- lnc -7.5
name        Temp Board
record_id   0x0003
number      0x02
unit        degrees C
thresholds:
  threshold  settable  value    raw
  lnc        yes       -7.000   249
  lc         yes       -20.000  236
  lnr        yes       -40.000  216
  unc        yes       75.000   75
  uc         yes       85.000   85
  unr        yes       100.000  100
changes:
  threshold  asked   before  after   raw_before  raw_after  changed
  lnc        -7.500  -5.000  -7.000  251         249        yes
  unc        75.000  70.000  75.000  70          75         yes
$ hwboard threshold '12V Main' uc 12.6 unc 12.288 | grep '^  (unc|uc) '
  unc        yes       12.288  143
  uc         yes       12.608  163
  unc        12.288  12.288  12.288  143         143        no
  uc         12.600  12.496  12.608  156         163        yes
$ hwboard sensor 'Temp Board' | grep '^  (lnc|unc) '
  lnc  -7.000
  unc  75.000
$ hwboard threshold Current uc 3.25 | grep '^  uc '
  uc         yes       3.260  213
  uc         3.250  3.500   3.260  225         213        yes
$ hwboard threshold Current | grep '^  (unc|uc) '
  unc        yes       3.000  200
  uc         yes       3.260  213

## thresholds refused: unknown names, thresholds a sensor lacks or cannot set, bad numbers
@board rich.toml
$ hwboard threshold Nope unc 1
[2]
2> hwboard: threshold: no sensor named 'Nope'
$ hwboard threshold 'Temp Board' foo 1
[2]
2> hwboard: threshold: unknown threshold 'foo' (lnc, lc, lnr, unc, uc, unr)
$ hwboard threshold 'Temp Ambient' unr 70
[2]
2> hwboard: threshold: sensor 'Temp Ambient' has no unr threshold
$ hwboard threshold 'Temp Spare' unc 70
[2]
2> hwboard: threshold: the unc threshold of 'Temp Spare' cannot be set
$ hwboard threshold 'Temp Board' unc x
[2]
2> hwboard: threshold: bad value 'x' for unc (a number)
$ hwboard threshold 'Temp Board' unc 128
[2]
2> hwboard: threshold: unc 128 is outside what 'Temp Board' can hold (-128 to 127 degrees C)
$ hwboard threshold 'Temp Board' unc
[2]
2> hwboard: threshold: 'unc' wants a value
$ hwboard threshold 'Temp Board' unc 1 unc 2
[2]
2> hwboard: threshold: threshold 'unc' given twice
$ hwboard threshold 'Hot Swap' unc 1
[2]
2> hwboard: threshold: sensor 'Hot Swap' has no thresholds
$ hwboard threshold 'Temp Board' | grep '^  unc '
  unc        yes       70.000   70

## config set: every setting, one in full; the IPMC keeps them across runs
$ hwboard config set storage_switch 0 1
key      storage_switch
select:
  switch  0
result   0
values:
  name  asked  before  after
  on    1      0       1
changed  yes
$ hwboard config set pll_config 1 0x33 | grep '^changed'
changed  yes
$ hwboard config set storage_switch 1 0 | grep '^changed'
changed  yes
$ hwboard config set pcie_port_config 3 4 | grep '^changed'
changed  yes
$ hwboard config set pcie_mode 2 | grep '^changed'
changed  yes
$ hwboard config set pcie_hotplug 2 1 | grep '^changed'
changed  yes
$ hwboard config set pcie_clock 0 | grep '^changed'
changed  yes
$ hwboard config set boot_cycle 2 4095 7 | grep '^changed'
changed  yes
$ hwboard config set clock_source 3 0 | grep '^changed'
changed  yes
$ hwboard config set clock_driver 3 1 | grep '^changed'
changed  yes
$ hwboard config set pm_mode 0 | grep '^changed'
changed  yes
$ hwboard config set flag handle 1 | grep '^changed'
changed  yes
$ hwboard config get
storage_switch:
  switch  mode  on
  0       1     yes
  1       5     no
pcie:
  port_config_a  0x03
  port_config_b  0x04
  mode           0x02
  clock          0x00
  hotplug        1,1,1,0
boot_cycle:
  a  2
  b  4095
  c  7
clocks:
  clock  source  driver
  0      0       1
  1      0       1
  2      1       1
  3      0       1
plls:
  pll  config
  0    0x10
  1    0x33
pll_status      0x03
ipmb_mode       0
pm_mode         0
$ hwboard options | grep '^fcap|^  handle'
fcap              0x00,0x01,0x00
  handle  1     0x01  yes  Overwrites the functionality of the handle switch
$ hwboard config set ipmb_mode 1 | grep '^  mode|^changed'
  mode  1      0       0
changed  no
[1]
2> hwboard: config: ipmb_mode mode reads back as 0, not 1

## config set refused: unknown settings, wrong counts, values out of range
$ hwboard config set
[2]
2> hwboard: config: usage: hwboard config set KEY VALUE... (storage_switch, pcie_port_config, pcie_mode, pcie_hotplug, pcie_clock, boot_cycle, clock_source, clock_driver, pll_config, ipmb_mode, pm_mode, flag)
$ hwboard config set bogus 1
[2]
2> hwboard: config: unknown setting 'bogus' (storage_switch, pcie_port_config, pcie_mode, pcie_hotplug, pcie_clock, boot_cycle, clock_source, clock_driver, pll_config, ipmb_mode, pm_mode, flag)
$ hwboard config set pcie_mode
[2]
2> hwboard: config: usage: hwboard config set pcie_mode MODE
$ hwboard config set boot_cycle 3 1 1
[2]
2> hwboard: config: bad a '3' for boot_cycle (0 to 2)
$ hwboard config set flag nope 1
[2]
2> hwboard: config: unknown flag 'nope' (see options)
$ hwboard config get 1
[2]
2> hwboard: config: usage: hwboard config get
$ hwboard config put
[2]
2> hwboard: config: unknown config action 'put' (get, set)
$ hwboard picmg bogus
[2]
2> hwboard: picmg: unknown picmg query 'bogus' (props, addr, led, port, amc)
$ hwboard picmg led
[2]
2> hwboard: picmg: usage: hwboard picmg led FRU
$ hwboard picmg port 3 1
[2]
2> hwboard: picmg: bad interface '3' (0 base, 1 fabric, 2 update channel)
$ hwboard picmg port 0 64
[2]
2> hwboard: picmg: bad channel '64' (0 to 63)
$ hwboard picmg amc x
[2]
2> hwboard: picmg: bad AMC channel 'x' (0 to 255)

## a threshold the IPMC refuses to set reads back unchanged and fails the command
@board threshold-refused.toml
$ hwboard threshold 'Temp Board' unc 75 | grep '^  unc '
  unc        yes       70.000   70
  unc        75.000  70.000  70.000  70          70         no
[1]
2> hwboard: threshold: unc reads back as raw 70, not 75

## options that fail their CRC: writes refused without --force, done with it; reads and migrate as before
@board eng-corrupt.toml
$ hwboard config set pcie_mode 3
[1]
2> hwboard: config: the engineering options fail their CRC; nothing written (--force writes all the same)
$ hwboard threshold 12V uc 14
[1]
2> hwboard: threshold: the engineering options fail their CRC; nothing written (--force writes all the same)
$ hwboard --fru 2 config set pcie_mode 3
[1]
2> hwboard: config: the engineering options fail their CRC; nothing written (--force writes all the same)
$ hwboard config get | grep '^  mode'
  mode           0x00
$ hwboard threshold 12V | grep '^  uc '
  uc         yes       13.800  230
$ hwboard --force config set pcie_mode 3 | grep '^  mode'
  mode  3      0       3
$ hwboard threshold --force 12V uc 14 | grep '^  uc '
  uc         yes       13.980  233
  uc         14.000  13.800  13.980  230         233        yes

## bad usage: status 2, one line on standard error, nothing on standard output
$ hwboard
[2]
2> hwboard: no command
2> Try 'hwboard --help'.
$ hwboard bogus
[2]
2> hwboard: unknown command 'bogus'
2> Try 'hwboard --help'.
$ hwboard fru x
[2]
2> hwboard: fru: bad FRU ID 'x' (0 to 255)
$ hwboard fru 1 2
[2]
2> hwboard: fru: usage: hwboard fru [ID]
$ hwboard sensor Nope
[2]
2> hwboard: sensor: no sensor named 'Nope'
$ hwboard --target
[2]
2> hwboard: missing argument of '--target'
2> Try 'hwboard --help'.
$ hwboard --target 0x100 devid
[2]
2> hwboard: devid: bad IPMB-L address '0x100' for --target (0 to 0xff)
$ hwboard --target 0x72 --fru 2 devid
[2]
2> hwboard: --target and --fru exclude each other
$ hwboard --xyz devid
[2]
2> hwboard: unknown option '--xyz'
2> Try 'hwboard --help'.
## help and version
$ hwboard --help | grep -c .
36
$ hwboard --version | grep -c '^hwboard [0-9]'
1

## output that cannot be written fails
$ hwboard devid >/dev/full
[1]
2> hwboard: cannot write to standard output: No space left on device

