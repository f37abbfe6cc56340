# Instrumented builds of the native programs.
#   QUORVEL_SANITIZE: AddressSanitizer and UndefinedBehaviorSanitizer; every report is fatal.
#   QUORVEL_FUZZ: the libFuzzer targets of fuzz/ (needs clang++), on top of the sanitizers.
option(QUORVEL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORVEL_FUZZ "Build the libFuzzer targets in fuzz/ (clang++ only)" OFF)
#   QUORVEL_TSAN: ThreadSanitizer, for the threads that read directories ahead of the scan.
option(QUORVEL_TSAN "Build with ThreadSanitizer" OFF)
if(QUORVEL_TSAN)
  if(QUORVEL_SANITIZE OR QUORVEL_FUZZ)
    message(FATAL_ERROR "ThreadSanitizer does not combine with the other sanitizers")
  endif()
  add_compile_options(-fsanitize=thread -g -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(WIN32 AND (QUORVEL_SANITIZE OR QUORVEL_FUZZ OR QUORVEL_TSAN))
  message(FATAL_ERROR "The sanitizer and fuzz builds are native only")
endif()
if(QUORVEL_SANITIZE OR QUORVEL_FUZZ)
  set(QUORVEL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  add_compile_options(${QUORVEL_SANITIZER_FLAGS} -g)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUORVEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUORVEL_FUZZ needs clang++ (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  # Coverage feedback for the library; the fuzz targets themselves link -fsanitize=fuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
