# 32-bit x86 build of the benchmarks: clang for i686 against Debian's i386 multiarch
# libraries, so that our 32-bit units meet the references at the board's word size. The
# binaries run on the x86-64 host as they are.
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i686-linux-gnu)
set(CMAKE_CXX_COMPILER_TARGET i686-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(BM_RATIO_SUFFIX _i686) # the bench main appends it to every ratio name
# Find the i386 copies of the libraries, never the host's 64-bit ones.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
