# One kernel family source, six objects: each compiled with exactly the instruction sets its
# processor level guarantees, into its own namespace qor::krn::lN.
set(QOR_LEVEL_FLAGS_0 -msse2)
set(QOR_LEVEL_FLAGS_1 -mssse3)
# GCC's -msse4.2 and -mavx quietly enable POPCNT, which no level row checks.
set(QOR_LEVEL_FLAGS_2 -msse4.2 -mno-popcnt)
set(QOR_LEVEL_FLAGS_3 -mavx -mno-popcnt)
set(QOR_LEVEL_FLAGS_4 -mavx2 -mfma -mbmi -mbmi2)
set(QOR_LEVEL_FLAGS_5 -mavx2 -mfma -mbmi -mbmi2 -mavx512f -mavx512cd -mavx512bw -mavx512dq -mavx512vl
    -mprefer-vector-width=512)
if(WIN32)
  # GCC on Win64 spills wide registers with aligned moves into 16-byte-aligned frames.
  foreach(level 3 4 5)
    list(APPEND QOR_LEVEL_FLAGS_${level} -Wa,-muse-unaligned-vector-move)
  endforeach()
endif()

function(qor_add_kernel_family family src)
  foreach(level RANGE 0 5)
    set(lib qor_krn_${family}_l${level})
    add_library(${lib} OBJECT ${src})
    target_compile_definitions(${lib} PRIVATE QOR_LEVEL=${level} QOR_BUILDING)
    target_include_directories(${lib} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/src)
    # -O2 in every build type, so the bits never depend on the build type. Kernels work on the bit
    # patterns of floats in integer lanes, where wrapping is the intent: -fwrapv makes it defined.
    # Wide vectors pass only between a family's own internal functions: their ABI note is noise.
    target_compile_options(${lib} PRIVATE ${QOR_COMMON_FLAGS} ${QOR_LEVEL_FLAGS_${level}} -O2 -fwrapv -Wno-psabi)
    set(QOR_LEVEL_OBJECT_LIBS_${level} ${QOR_LEVEL_OBJECT_LIBS_${level}} ${lib} PARENT_SCOPE)
  endforeach()
endfunction()
