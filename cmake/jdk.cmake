# JNI headers and libjvm of the JDK named by JTZ_JDK (the target's own JDK).
if(NOT JTZ_JDK)
  message(FATAL_ERROR "set JTZ_JDK to the JDK of the target (see CMakePresets.json)")
endif()
if(WIN32)
  # No Windows JDK here: the JNI headers are the same, only jni_md.h differs.
  set(JTZ_JNI_INCLUDE ${JTZ_JDK}/include ${CMAKE_SOURCE_DIR}/platform/win32/jni)
else()
  set(JTZ_JNI_INCLUDE ${JTZ_JDK}/include ${JTZ_JDK}/include/linux)
  set(JTZ_LIBJVM ${JTZ_JDK}/lib/server/libjvm.so)
  set(JTZ_JAVA ${JTZ_JDK}/bin/java)
endif()
add_library(jni_headers INTERFACE)
target_include_directories(jni_headers SYSTEM INTERFACE ${JTZ_JNI_INCLUDE})

# Java compiler: the build machine's own (the class files run on either JVM). Named explicitly,
# so that a 32-bit JDK installed beside it (which this machine may not be able to run) is never
# picked up through /usr/bin.
set(JTZ_BUILD_JDK /usr/lib/jvm/java-17-openjdk-amd64 CACHE PATH "JDK whose javac and jar the build runs")
if(EXISTS ${JTZ_BUILD_JDK}/bin/javac)
  set(ENV{JAVA_HOME} ${JTZ_BUILD_JDK})
endif()
find_package(Java 17 REQUIRED COMPONENTS Development)
include(UseJava)
