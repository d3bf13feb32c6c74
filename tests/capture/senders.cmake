# Real senders (a DOS emulator, a print server's raw queue, a program that
# writes the job file) against a resident marlix with its print port on.
# They skip where dosbox or the print server's tools are missing.
add_executable(sender_tests SenderTest.cpp)
target_link_libraries(sender_tests PRIVATE Qt6::Gui Qt6::Network GTest::gtest)
target_compile_definitions(sender_tests PRIVATE MARLIX_EXE="$<TARGET_FILE:marlix>"
                                                MARLIX_SAMPLES="${PROJECT_SOURCE_DIR}/samples"
                                                MARLIX_SOURCE_DATA="${PROJECT_SOURCE_DIR}/data")
add_dependencies(sender_tests marlix)
gtest_discover_tests(sender_tests PROPERTIES RUN_SERIAL TRUE LABELS senders
                                             ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
