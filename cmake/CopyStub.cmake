# cmake -DSOURCE=<win32 SETUP.EXE> -DDESTINATION=<bin/SETUP.EXE> -P CopyStub.cmake
# Copies the stub when the win32 build has made one; without it globpack needs --stub.
if(EXISTS "${SOURCE}")
  file(COPY_FILE "${SOURCE}" "${DESTINATION}" ONLY_IF_DIFFERENT)
else()
  message(STATUS "No installer stub at ${SOURCE} (build the win32 preset): globpack needs --stub")
endif()
