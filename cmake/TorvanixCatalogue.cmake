# torvanix_catalogue_usb_ids(<out_var>)
# The USB (vendor, product) pairs of the devices the program's catalogue supports, read from
# the catalogue itself so that nothing built from it (the hidraw libraries' filter, the
# AppStream modaliases) can drift from it. Sets <out_var> to a list of "vvvv:pppp" items in
# lower-case hex, in catalogue order, each pair once: the full-record rows, then the special
# rows (those name their pair in a "vid_XXXX&pid_YYYY" pattern). The boot loader the firmware
# update talks to is no catalogue device and is not listed. Reconfigures when the catalogue
# changes.
set(TORVANIX_CATALOGUE_JSON ${CMAKE_SOURCE_DIR}/client/resources/catalogue/devices.json)

function(torvanix_catalogue_usb_ids out_var)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TORVANIX_CATALOGUE_JSON})
    file(READ ${TORVANIX_CATALOGUE_JSON} catalogue_json)
    set(ids "")
    string(JSON rows LENGTH "${catalogue_json}" fullRecord)
    if(rows GREATER 0)
        math(EXPR last "${rows} - 1")
        foreach(i RANGE ${last})
            string(JSON vendor GET "${catalogue_json}" fullRecord ${i} vendor)
            string(JSON product GET "${catalogue_json}" fullRecord ${i} product)
            list(APPEND ids "${vendor}:${product}")
        endforeach()
    endif()
    string(JSON rows LENGTH "${catalogue_json}" special)
    if(rows GREATER 0)
        math(EXPR last "${rows} - 1")
        foreach(i RANGE ${last})
            string(JSON pattern GET "${catalogue_json}" special ${i} pattern)
            if(pattern MATCHES "vid_([0-9a-fA-F]+)&pid_([0-9a-fA-F]+)")
                list(APPEND ids "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
            endif()
        endforeach()
    endif()
    string(TOLOWER "${ids}" ids)
    foreach(id IN LISTS ids)
        if(NOT id MATCHES "^[0-9a-f][0-9a-f][0-9a-f][0-9a-f]:[0-9a-f][0-9a-f][0-9a-f][0-9a-f]$")
            message(FATAL_ERROR "device catalogue: \"${id}\" is no four-digit hex vendor:product pair")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES ids)
    set(${out_var} "${ids}" PARENT_SCOPE)
endfunction()
