# The nanobind extension ostrel_models._kernels over the accurate kernels,
# installed into the ostrel_models package.  It links its own copy of the
# static kernel libraries (and so of the worker pool), with every symbol but
# its init function hidden.
execute_process(COMMAND "${Python_EXECUTABLE}" -m nanobind --cmake_dir
                OUTPUT_STRIP_TRAILING_WHITESPACE OUTPUT_VARIABLE nanobind_ROOT)
find_package(nanobind CONFIG REQUIRED)
nanobind_add_module(ostrel_models_ext NB_STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/bindings/accurate/kernels_module.cpp)
set_target_properties(ostrel_models_ext PROPERTIES OUTPUT_NAME _kernels)
target_link_libraries(ostrel_models_ext PRIVATE ostrel_models_kernels)
target_compile_options(ostrel_models_ext PRIVATE ${OSTREL_FP_FLAGS})
target_link_options(ostrel_models_ext PRIVATE -Wl,--exclude-libs,ALL)
if(SKBUILD)
  install(TARGETS ostrel_models_ext LIBRARY DESTINATION ostrel_models)
endif()
