# End-to-end checks of the runner and the shim with plain programs. In the
# cross build the programs run on the emulator, served by the host's runner.
# The top level enables testing only after this directory.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(hwsim_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
set(hwsim_runner ${HWSIM_HOST_RUNNER})
set(hwsim_launcher "")
if(hwsim_emulator)
  set(hwsim_launcher ${hwsim_emulator} -E LD_PRELOAD=$<TARGET_FILE:hwsim_shim>)
endif()
set(hwsim_probe ${hwsim_launcher} $<TARGET_FILE:hwsim_probe>)
list(JOIN hwsim_launcher " " hwsim_launcher_words)
list(JOIN hwsim_probe " " hwsim_probe_words)
set(hwsim_boards ${CMAKE_CURRENT_SOURCE_DIR}/boards)
set(hwsim_work ${CMAKE_CURRENT_BINARY_DIR}/test-work)
file(MAKE_DIRECTORY ${hwsim_work})
file(WRITE ${hwsim_work}/bad.toml "base = \"${hwsim_boards}/default.toml\"\nname = \"bad\"\n[cpld]\nversoin = 1\n")

function(hwsim_test name regex)
  add_test(NAME sim.${name} COMMAND ${ARGN})
  set_tests_properties(sim.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${regex}" TIMEOUT 60)
endfunction()

hwsim_test(runner_serves_the_program_and_keeps_its_writes_for_the_next
  "code=7 ret=0 errno=0 rc=0 param0=0x00000055 param1=0x00000033.*code=6 ret=0 errno=0 rc=0 param0=0x00000055 param1=0x00000033.*cpld PPCREG_WRITE param0=0x00000055 param1=0x00000033 -> ret=0.*cpld close fd=[0-9]+ -> ret=0"
  sh -c "rm -f ${hwsim_work}/persist.trace && \"$@\" --fresh -- ${hwsim_probe_words} 7 0x55 0x33 && \"$@\" -- ${hwsim_probe_words} 6 0x55 0 && cat ${hwsim_work}/persist.trace"
  sh ${hwsim_runner} --state ${hwsim_work}/state-persist --trace ${hwsim_work}/persist.trace)

# The record the request points to, or the answer, cannot be copied: EFAULT,
# as the kernel's copy_from_user and copy_to_user make it.
hwsim_test(memory_the_program_cannot_give_fails_with_efault
  "code=6 ret=-1 errno=14 .*code=6 ret=-1 errno=14 .*code=6 ret=0 errno=0 .*PPCREG_READ arg=0x0+8 -> ret=-1 errno=14.*PPCREG_READ param0=0x00000010 param1=0x00000000 -> ret=-1 errno=14"
  sh -c "rm -f ${hwsim_work}/efault.trace && \"$@\" -- ${hwsim_probe_words} 6 unmapped 0 6 readonly 0 6 0x10 0 && cat ${hwsim_work}/efault.trace"
  sh ${hwsim_runner} --state ${hwsim_work}/state-efault --trace ${hwsim_work}/efault.trace)

hwsim_test(absent_device_gives_enoent "open ret=-1 errno=2"
  ${hwsim_runner} --state ${hwsim_work}/state-absent --board ${hwsim_boards}/cpld-absent.toml -- ${hwsim_probe})

# Without the runner the devices are the system's: here, none. (The
# sanitizer runtime must come before the shim.)
set(hwsim_preload $<TARGET_FILE:hwsim_shim>)
if(HWREGS_ASAN_RUNTIME)
  set(hwsim_preload ${HWREGS_ASAN_RUNTIME}:${hwsim_preload})
endif()
hwsim_test(shim_without_runner_leaves_the_devices_to_the_system "open ret=-1 errno=2"
  ${CMAKE_COMMAND} -E env --unset=HWSIM_SOCKET LD_PRELOAD=${hwsim_preload} ${hwsim_probe})

hwsim_test(runner_refuses_a_bad_board "bad.toml:4: cpld.versoin: unknown key"
  ${hwsim_runner} --state ${hwsim_work}/state-bad --board ${hwsim_work}/bad.toml -- true)
hwsim_test(runner_refuses_a_board_that_is_no_file "/dev/zero: not a regular file"
  ${hwsim_runner} --state ${hwsim_work}/state-bad --board /dev/zero -- true)
hwsim_test(runner_refuses_an_empty_state_directory "hwsim: --state: no directory given"
  ${hwsim_runner} --state= -- true)
hwsim_test(runner_refuses_a_trace_it_cannot_write "hwsim: trace file /nonexistent/t: No such file"
  ${hwsim_runner} --state ${hwsim_work}/state-bad --trace /nonexistent/t -- true)
hwsim_test(runner_without_command_prints_usage "Usage: hwsim" ${hwsim_runner} --fresh)

# The program's exit status is the runner's; a signal's is 128 + its number.
hwsim_test(runner_exits_as_the_program_does "^3 137 127\n$"
  sh -c "\"$@\" -- sh -c 'exit 3'$<SEMICOLON> a=$?$<SEMICOLON> \"$@\" -- sh -c 'kill -9 $$'$<SEMICOLON> b=$?$<SEMICOLON> \"$@\" -- no-such-program 2>/dev/null$<SEMICOLON> echo $a $b $?"
  sh ${hwsim_runner} --state ${hwsim_work}/state-exit)

foreach(case writers kill)
  add_test(NAME sim.state_under_load.${case}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/under_load.py ${case}
            --bin ${CMAKE_BINARY_DIR}/bin --boards ${hwsim_boards} --work ${hwsim_work}
            --runner ${hwsim_runner} --launcher "${hwsim_launcher_words}")
  set_tests_properties(sim.state_under_load.${case} PROPERTIES TIMEOUT 120)
endforeach()

# The FRU images of the boards are what their script makes.
add_test(NAME sim.fru_images_match_their_script
  COMMAND ${Python3_EXECUTABLE} -B ${hwsim_boards}/fru/make_images.py --check)
