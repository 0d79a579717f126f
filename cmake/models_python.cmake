# The nanobind extension ostrel_models._kernels over the accurate kernels,
# installed into the ostrel_models package.  It links the static library of the
# accurate kernels, with every symbol but its init function hidden, and the
# shared runtime library (the worker pool) that the ostrel module loads too.
execute_process(COMMAND "${Python_EXECUTABLE}" -m nanobind --cmake_dir
                OUTPUT_STRIP_TRAILING_WHITESPACE OUTPUT_VARIABLE nanobind_ROOT)
find_package(nanobind CONFIG REQUIRED)
file(GLOB OSTREL_MODELS_BINDING_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/bindings/accurate/*.cpp)
nanobind_add_module(ostrel_models_ext NB_STATIC ${OSTREL_MODELS_BINDING_SOURCES})
set_target_properties(ostrel_models_ext PROPERTIES OUTPUT_NAME _kernels)
target_link_libraries(ostrel_models_ext PRIVATE ostrel_models_kernels)
target_compile_options(ostrel_models_ext PRIVATE ${OSTREL_FP_FLAGS})
target_link_options(ostrel_models_ext PRIVATE -Wl,--exclude-libs,ALL)
set_target_properties(ostrel_models_ext PROPERTIES INSTALL_RPATH "$ORIGIN/../ostrel.libs")
if(SKBUILD)
  install(TARGETS ostrel_models_ext LIBRARY DESTINATION ostrel_models)
endif()
