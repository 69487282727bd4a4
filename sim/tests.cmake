# End-to-end checks of the runner and the shim with a plain C program. In the
# cross build the programs run on the emulator, the runner included.
# The top level enables testing only after this directory.

set(hwsim_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
set(hwsim_probe ${hwsim_emulator} $<TARGET_FILE:hwsim_probe>)
set(hwsim_boards ${CMAKE_CURRENT_SOURCE_DIR}/boards)
set(hwsim_work ${CMAKE_CURRENT_BINARY_DIR}/test-work)
file(MAKE_DIRECTORY ${hwsim_work})
file(WRITE ${hwsim_work}/bad.toml "base = \"${hwsim_boards}/default.toml\"\nname = \"bad\"\n[cpld]\nversoin = 1\n")

function(hwsim_test name regex)
  add_test(NAME sim.${name} COMMAND ${ARGN})
  set_tests_properties(sim.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${regex}")
endfunction()

hwsim_test(runner_starts_program_with_the_device
  "code=6 ret=0 errno=0 rc=0 param0=0x00000010 param1=0x0000000c"
  hwsim --state ${hwsim_work}/state-version --fresh -- ${hwsim_probe} 6 0x10 0)

hwsim_test(registers_persist_between_programs_and_trace_is_appended
  "code=6 ret=0 errno=0 rc=0 param0=0x00000055 param1=0x00000033.*cpld PPCREG_WRITE param0=0x00000055 param1=0x00000033 -> ret=0.*cpld PPCREG_READ param0=0x00000055"
  hwsim --state ${hwsim_work}/state-persist --fresh --trace ${hwsim_work}/persist.trace --
  sh -c "rm -f ${hwsim_work}/persist.trace && \"$@\" 7 0x55 0x33 && \"$@\" 6 0x55 0 && cat ${hwsim_work}/persist.trace"
  sh ${hwsim_probe})

hwsim_test(absent_device_gives_enoent "open ret=-1 errno=2"
  hwsim --state ${hwsim_work}/state-absent --board ${hwsim_boards}/cpld-absent.toml -- ${hwsim_probe})

hwsim_test(runner_refuses_a_bad_board "bad.toml:4: cpld.versoin: unknown key"
  hwsim --state ${hwsim_work}/state-bad --board ${hwsim_work}/bad.toml -- true)

hwsim_test(runner_without_command_prints_usage "Usage: hwsim" hwsim --fresh)

# The shim on its own takes the board only from the runner's image of it:
# without an image, one line and no device.
set(hwsim_preload $<TARGET_FILE:hwsim_shim>)
if(HWREGS_ASAN_RUNTIME)
  set(hwsim_preload ${HWREGS_ASAN_RUNTIME}:${hwsim_preload})
endif()
if(hwsim_emulator)
  set(hwsim_preloaded_probe ${hwsim_emulator} -E LD_PRELOAD=${hwsim_preload} $<TARGET_FILE:hwsim_probe>)
else()
  set(hwsim_preloaded_probe env LD_PRELOAD=${hwsim_preload} $<TARGET_FILE:hwsim_probe>)
endif()
hwsim_test(shim_without_image_leaves_device_absent
  "no board image [^ ]*/state-shim/board.image \\(run the program under hwsim\\); the simulated devices are absent.*open ret=-1 errno=2"
  ${CMAKE_COMMAND} -E env HWSIM_BOARD=${hwsim_boards}/default.toml HWSIM_STATE=${hwsim_work}/state-shim
  sh -c "rm -rf ${hwsim_work}/state-shim && \"$@\" 2>&1" sh ${hwsim_preloaded_probe})

# Nor does it take an image the board file no longer matches; the runner reads
# the board file again, and the edit takes.
list(JOIN hwsim_emulator " " hwsim_emulator_words)
list(JOIN hwsim_preloaded_probe " " hwsim_preloaded_probe_words)
list(JOIN hwsim_probe " " hwsim_probe_words)
set(hwsim_edited ${hwsim_work}/edited.toml)
set(hwsim_edited_state ${hwsim_work}/state-edited)
file(GENERATE OUTPUT ${hwsim_work}/edited-board.sh CONTENT "set -e
printf 'base = \"${hwsim_boards}/default.toml\"\\nname = \"edited\"\\n[cpld]\\nversion = 6\\n' >${hwsim_edited}
${hwsim_emulator_words} $<TARGET_FILE:hwsim> --board ${hwsim_edited} --state ${hwsim_edited_state} --fresh -- true
sed -i 's/version = 6/version = 7/' ${hwsim_edited}
HWSIM_BOARD=${hwsim_edited} HWSIM_STATE=${hwsim_edited_state} ${hwsim_preloaded_probe_words} 0 0 0 2>&1 || true
${hwsim_emulator_words} $<TARGET_FILE:hwsim> --board ${hwsim_edited} --state ${hwsim_edited_state} -- ${hwsim_probe_words} 0 0 0
")
hwsim_test(shim_refuses_the_image_of_an_edited_board_until_the_runner_reads_it
  "board.image is not of [^ ]*/edited.toml as it reads now.*open ret=-1 errno=2.*code=0 ret=0 errno=0 rc=0 param0=0x00000007"
  sh ${hwsim_work}/edited-board.sh)
