# Copies the seeds into a working corpus in the build directory and fuzzes for ten seconds, from
# a fixed seed: the suite sees the same inputs every run, and fuzz/campaign.sh explores.
file(REMOVE_RECURSE ${CORPUS})
file(MAKE_DIRECTORY ${CORPUS} ${ARTIFACTS})
file(GLOB seeds ${SEEDS}/*)
file(COPY ${seeds} DESTINATION ${CORPUS})
execute_process(COMMAND ${FUZZER} -seed=1 -max_total_time=10 -rss_limit_mb=1024 -artifact_prefix=${ARTIFACTS} ${CORPUS}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "imaging_fuzz failed (${result}); see ${ARTIFACTS}")
endif()
