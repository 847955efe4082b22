# Install rules. Components:
#   runtime      libcarvix-com.so.N, the automation runtime every client and the module load
#   development  its headers, the unversioned link, carvix-com.pc and the CMake package
#   module       carvix-qx.so in a private folder, the tools, manual pages, completion, docs
#   bench        test equipment (virtual card, bench runner, substitute contactless library,
#                sample cards); only with CARVIX_INSTALL_BENCH=ON
# A plain `cmake --install` writes every component that was configured.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

option(CARVIX_INSTALL_BENCH "Also install the test bench (virtual card, substitute library)" OFF)

# The module's private folder; the contactless component looks for its vendor library there.
set(CARVIX_MODULE_DIR "${CMAKE_INSTALL_LIBDIR}/carvix-qx")

# --- runtime and SDK ---------------------------------------------------------------------
set_target_properties(carvix_com PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION 1 EXPORT_NAME CarvixCom)
install(TARGETS carvix_com EXPORT CarvixComTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development)
# Only the Windows-named types and functions are public; registry.h, typeinfo.h and guid.h
# serve the module and the tools and stay inside the tree.
set(carvix_public_headers types.h interfaces.h oleauto.h host_hooks.h scoped.h client.h oleauto_c.h)
list(TRANSFORM carvix_public_headers PREPEND
     ${CMAKE_SOURCE_DIR}/src/automation/include/carvix/automation/)
install(FILES ${carvix_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/carvix/automation
        COMPONENT development)
# The installed target carries only the installed include folder.
set_property(TARGET carvix_com APPEND PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(EXPORT CarvixComTargets NAMESPACE CarvixCom:: FILE CarvixComTargets.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/CarvixCom COMPONENT development)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/CarvixComConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/CarvixComConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/CarvixCom)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/CarvixComConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/CarvixComConfig.cmake
              ${CMAKE_BINARY_DIR}/CarvixComConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/CarvixCom COMPONENT development)
configure_file(${CMAKE_SOURCE_DIR}/cmake/carvix-com.pc.in ${CMAKE_BINARY_DIR}/carvix-com.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/carvix-com.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# --- module, tools and their documentation ------------------------------------------------
install(TARGETS carvix_qx LIBRARY DESTINATION ${CARVIX_MODULE_DIR} COMPONENT module)
install(TARGETS carvix carvix-perso carvix-probe carvix-typelib
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT module)
install(FILES ${CMAKE_SOURCE_DIR}/man/carvix.1 ${CMAKE_SOURCE_DIR}/man/carvix-perso.1
              ${CMAKE_SOURCE_DIR}/man/carvix-probe.1 ${CMAKE_SOURCE_DIR}/man/carvix-typelib.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT module)
install(FILES ${CMAKE_SOURCE_DIR}/completion/carvix
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT module)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT module)
install(FILES ${CMAKE_SOURCE_DIR}/src/automation/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME automation-runtime.md COMPONENT development)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        COMPONENT development)

# The desktop dialogs, when Qt 6 was found (package carvix-qx-dialog).
if(TARGET carvix-dialog)
  install(TARGETS carvix-dialog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT dialog)
  install(FILES ${CMAKE_SOURCE_DIR}/man/carvix-dialog.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT dialog)
endif()

# The browser bridge host and its browser side, once they are in the tree.
if(TARGET carvix-bridge)
  install(TARGETS carvix-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT module)
  if(EXISTS ${CMAKE_SOURCE_DIR}/man/carvix-bridge.1)
    install(FILES ${CMAKE_SOURCE_DIR}/man/carvix-bridge.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT module)
  endif()
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/web/extension)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/web/extension/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/carvix-qx/extension COMPONENT module)
endif()

# The Python client, a pure-Python package over the runtime.
set(CARVIX_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python client is installed, relative to the prefix")
if(EXISTS ${CMAKE_SOURCE_DIR}/python/carvix)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/carvix DESTINATION ${CARVIX_PYTHON_DIR}
          COMPONENT python PATTERN "__pycache__" EXCLUDE PATTERN "*.pyc" EXCLUDE)
endif()

# --- test bench ----------------------------------------------------------------------------
if(CARVIX_INSTALL_BENCH)
  install(TARGETS carvix-vcard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT bench)
  install(PROGRAMS ${CMAKE_SOURCE_DIR}/testbench/supervisor/carvix-bench
          DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT bench)
  install(TARGETS rf_substitute LIBRARY DESTINATION ${CARVIX_MODULE_DIR} COMPONENT bench)
  install(FILES ${CMAKE_SOURCE_DIR}/man/carvix-vcard.1 ${CMAKE_SOURCE_DIR}/man/carvix-bench.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT bench)
  # Readable sample cards, personalised (and signed with the test PKI) by carvix-perso.
  set(perso ${CMAKE_SOURCE_DIR}/tests/data/perso)
  set(cards ${CMAKE_BINARY_DIR}/bench-cards)
  set(carvix_bench_cards ${cards}/vl-full-t0.json ${cards}/zk-full-t1.json
                         ${cards}/vl-full-contactless.json)
  add_custom_command(
    OUTPUT ${carvix_bench_cards}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${cards}
    COMMAND carvix-perso ${perso}/vl-full.json -o ${cards}/vl-full-t0.json --protocol T=0
    COMMAND carvix-perso ${perso}/zk-full.json -o ${cards}/zk-full-t1.json --protocol T=1
    COMMAND carvix-perso ${perso}/vl-full.json -o ${cards}/vl-full-contactless.json --contactless
    DEPENDS carvix-perso ${perso}/vl-full.json ${perso}/zk-full.json
    COMMENT "Personalising the bench's sample cards")
  add_custom_target(carvix_bench_cards ALL DEPENDS ${carvix_bench_cards})
  install(FILES ${carvix_bench_cards} DESTINATION ${CMAKE_INSTALL_DATADIR}/carvix-qx/cards
          COMPONENT bench)
  install(FILES ${CMAKE_SOURCE_DIR}/testbench/vcard/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
          RENAME virtual-card.md COMPONENT bench)
endif()
