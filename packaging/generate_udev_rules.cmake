# Writes the udev rules from the device catalogue: cmake -DCTL=<torvanix-ctl> -DOUT=<file> -P
# this file. A failed run leaves no half-written rules behind.
execute_process(COMMAND ${CTL} udev-rules OUTPUT_FILE ${OUT}.tmp RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    file(REMOVE ${OUT}.tmp)
    message(FATAL_ERROR "torvanix-ctl udev-rules failed: ${rc}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
