# The Windows side of packaging: the job's event messages compiled into
# QuorvexServer.exe.

# windmc turns the messages into a resource script and its binary, which
# QuorvexServer.rc includes.
set(QUORVEX_MESSAGES_DIR ${CMAKE_BINARY_DIR}/event_messages)
string(REPLACE windres windmc QUORVEX_WINDMC ${CMAKE_RC_COMPILER})
set(messages ${QUORVEX_MESSAGES_DIR}/event_messages.rc ${QUORVEX_MESSAGES_DIR}/MSG00409.bin)
add_custom_command(
  OUTPUT ${messages}
  COMMAND ${QUORVEX_WINDMC} -U -h ${QUORVEX_MESSAGES_DIR} -r ${QUORVEX_MESSAGES_DIR}
          ${CMAKE_CURRENT_LIST_DIR}/event_messages.mc
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/event_messages.mc
  VERBATIM)
add_custom_target(quorvex_event_messages DEPENDS ${messages})
add_dependencies(QuorvexServer quorvex_event_messages)
target_include_directories(QuorvexServer PRIVATE ${QUORVEX_MESSAGES_DIR})
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/QuorvexServer.rc APPEND PROPERTY
             OBJECT_DEPENDS ${messages})
