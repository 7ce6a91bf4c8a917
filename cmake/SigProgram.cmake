# sigtools_exact_float(TARGET SCOPE): every program's output depends on the
# exact floating-point evaluation order: no contraction into fused
# multiply-add, never fast-math.
function(sigtools_exact_float target scope)
  target_compile_options(${target} ${scope} -ffp-contract=off -fno-fast-math)
endfunction()

# sigtools_program(NAME): the folder's main.cpp becomes the program NAME; every other
# .cpp of the folder goes into the static library NAME-core, which the tests link too.
function(sigtools_program name)
  file(GLOB core_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER core_sources EXCLUDE REGEX "/main\\.cpp$")
  if(core_sources)
    add_library(${name}-core STATIC ${core_sources})
    target_include_directories(${name}-core PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name}-core PUBLIC sigcore)
    sigtools_exact_float(${name}-core PRIVATE)
  endif()
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  sigtools_exact_float(${name} PRIVATE)
  if(core_sources)
    target_link_libraries(${name} PRIVATE ${name}-core)
  else()
    target_link_libraries(${name} PRIVATE sigcore)
  endif()
endfunction()
