# Fails unless the cmake running this script is new enough for the project (Python SABI modules).
if(CMAKE_VERSION VERSION_LESS 3.26)
  message(FATAL_ERROR "cmake ${CMAKE_VERSION} is older than 3.26")
endif()
