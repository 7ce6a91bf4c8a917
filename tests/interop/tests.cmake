# Interop tests: our generators and detectors against independent telephony software
# (spandsp, minimodem, multimon-ng, sox). A check whose peer or program is missing
# reports itself skipped (exit code 77), never passed.

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(SPANDSP QUIET IMPORTED_TARGET spandsp)
endif()

set(interop_dir ${CMAKE_CURRENT_LIST_DIR})
set(interop_peer none)
if(SPANDSP_FOUND)
  # Test-only bridge to spandsp's caller-ID transmitters and receivers.
  add_executable(cidpeer ${interop_dir}/cidpeer.cpp)
  target_link_libraries(cidpeer PRIVATE PkgConfig::SPANDSP)
  set(interop_peer $<TARGET_FILE:cidpeer>)
else()
  message(STATUS "spandsp not found: the interop tests that need it will be skipped")
endif()

find_program(INTEROP_BASH bash REQUIRED)

# interop_test(NAME SCRIPT ARGS...): registers interop.NAME, running SCRIPT with the bin
# folder, the spandsp bridge (or "none") and ARGS.
function(interop_test name script)
  add_test(NAME interop.${name}
           COMMAND ${INTEROP_BASH} ${interop_dir}/${script} ${CMAKE_BINARY_DIR}/bin ${interop_peer} ${ARGN})
  set_tests_properties(interop.${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS interop)
endfunction()

# spandsp's receivers decode cidforge's bursts.
interop_test(spandsp_rx.cidforge_us_8000_16bit spandsp_reads_cidforge.sh us 8000 16)
interop_test(spandsp_rx.cidforge_us_8000_8bit spandsp_reads_cidforge.sh us 8000 8)
foreach(rate IN ITEMS 11025 16000 22050 44100 48000)
  interop_test(spandsp_rx.cidforge_us_${rate} spandsp_reads_cidforge.sh us ${rate} 16)
endforeach()
foreach(kind IN ITEMS number long-number sjis-name euc-name)
  string(REPLACE "-" "_" tag ${kind})
  interop_test(spandsp_rx.cidforge_ntt_${tag} spandsp_reads_cidforge.sh ntt ${kind})
endforeach()

# spandsp's CLASS receiver decodes cidforge -MDMF, its CLIP receiver cidforge -ETSI and its
# CLIP_DTMF receiver padtoner's DTMF caller ID.
foreach(format IN ITEMS mdmf etsi)
  interop_test(spandsp_rx.cidforge_${format}_8000_8bit spandsp_reads_multiple.sh ${format} 8000 8)
  interop_test(spandsp_rx.cidforge_${format}_absent spandsp_reads_multiple.sh ${format} 8000 16 absent)
  interop_test(spandsp_rx.cidforge_${format}_seizure spandsp_reads_multiple.sh ${format} 8000 16 present seizure)
  foreach(rate IN ITEMS 11025 16000 48000)
    interop_test(spandsp_rx.cidforge_${format}_${rate} spandsp_reads_multiple.sh ${format} ${rate} 16)
  endforeach()
endforeach()
foreach(digits IN ITEMS A0123456789C "D0123456789#" B10C A0123456789D0198765432C)
  string(REPLACE "#" "hash" tag ${digits})
  interop_test(spandsp_rx.padtoner_dtmf_${tag} spandsp_reads_multiple.sh dtmf ${digits})
endforeach()

# Our detectors decode spandsp's bursts.
interop_test(cidprobe.spandsp_us detectors_read_spandsp.sh us)
interop_test(cidprobe_ntt.spandsp_number detectors_read_spandsp.sh ntt-number)
interop_test(cidprobe_ntt.spandsp_name detectors_read_spandsp.sh ntt-name)

# minimodem recovers exactly the bytes that cidforge sent.
foreach(format IN ITEMS us ntt)
  foreach(rate IN ITEMS 8000 48000)
    interop_test(minimodem.cidforge_${format}_${rate} minimodem_reads_cidforge.sh ${format} ${rate})
  endforeach()
endforeach()

# sox reads every WAV file that the generators write.
interop_test(sox.cidforge sox_reads_generators.sh cidforge)
interop_test(sox.padtoner sox_reads_generators.sh padtoner)

# multimon-ng's DTMF decoder hears the same digit strings as cidscan --standard dtmf.
interop_test(multimon.dtmf_digits multimon_agrees_dtmf.sh)

# cidscan decodes spandsp's MDMF and JCLIP bursts and every container sox writes.
foreach(kind IN ITEMS mdmf-seizure mdmf-no-seizure mdmf-absent mdmf-extra ntt-spandsp ntt-cidforge containers)
  string(REPLACE "-" "_" tag ${kind})
  interop_test(cidscan.${tag} cidscan_reads_peers.sh ${kind})
endforeach()

# cidscan decodes spandsp's ETSI, ACLIP and DTMF caller ID, and what cidforge and padtoner
# make in every format at four rates and both depths.
foreach(kind IN ITEMS etsi-spandsp aclip-spandsp dtmf-spandsp)
  string(REPLACE "-" "_" tag ${kind})
  interop_test(cidscan.${tag} cidscan_reads_world.sh ${kind})
endforeach()
foreach(rate IN ITEMS 8000 11025 16000 48000)
  foreach(bits IN ITEMS 8 16)
    interop_test(cidscan.round_trip_${rate}_${bits} cidscan_reads_world.sh round-trip ${rate} ${bits})
  endforeach()
endforeach()

# spandsp's receivers decode cidgen's messages (NTT frames too): plain, impaired within the
# receivers' limits, at other rates, and drop the ones with a spoiled check.
foreach(kind IN ITEMS sdmf mdmf mdmf-absent vmwi etsi etsi-absent ntt dtmf)
  string(REPLACE "-" "_" tag ${kind})
  interop_test(spandsp_rx.cidgen_${tag} spandsp_reads_cidgen.sh ${kind})
  interop_test(spandsp_rx.cidgen_${tag}_bad_checksum spandsp_reads_cidgen.sh ${kind} --bad-checksum)
endforeach()
foreach(kind IN ITEMS mdmf etsi)
  interop_test(spandsp_rx.cidgen_${kind}_impaired spandsp_reads_cidgen.sh ${kind}
               --twist 6 --mark-offset 5 --space-offset -5 --rate-error 1 --snr 30 --level -30)
  interop_test(spandsp_rx.cidgen_${kind}_16000_ulaw spandsp_reads_cidgen.sh ${kind} --rate 16000 --encoding ulaw
               --seizure-bits 0 --mark-bits 80)
endforeach()
# Twist is high group minus low group: spandsp's receiver takes up to about
# 3 dB with the high group stronger and more the other way.
interop_test(spandsp_rx.cidgen_etsi_latin1 spandsp_reads_cidgen.sh etsi-latin1)
interop_test(spandsp_rx.cidgen_dtmf_twist_high spandsp_reads_cidgen.sh dtmf --twist 3 --level -15 --digit-ms 50 --digit-gap-ms 50)
interop_test(spandsp_rx.cidgen_dtmf_twist_low spandsp_reads_cidgen.sh dtmf --twist -6 --level -20 --snr 25)
# spandsp's bursts, decoded by cidscan and sent again by cidgen --from-json,
# decode in spandsp as its own did.
foreach(kind IN ITEMS resend-mdmf resend-clip resend-dtmf)
  string(REPLACE "-" "_" tag ${kind})
  interop_test(spandsp_rx.cidgen_${tag} spandsp_reads_cidgen.sh ${kind})
endforeach()

# spandsp's receivers decode every "display" file of cidgen's test plans and deliver none of the negative plan's.
foreach(plan IN ITEMS gr30 etsi ntt dtmf-cid negative)
  interop_test(spandsp_rx.cidgen_plan_${plan} spandsp_reads_plans.sh ${plan})
endforeach()

# cidscan --measure reads sox's alert tone, DTMF acknowledgement and clipped ringing.
interop_test(sox_signals.cidscan cidscan_reads_sox_signals.sh)
