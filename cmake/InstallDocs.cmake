# SPDX-License-Identifier: MIT
# Manual pages, bash completions and the licence, installed beside the
# programs they describe: romflash's with the default install (a board's root
# file system), flashsim's only with the simulator component, like the
# simulator itself.
set(ROMFLASH_COMPLETIONSDIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

install(FILES ${PROJECT_SOURCE_DIR}/man/romflash.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/completion/romflash DESTINATION ${ROMFLASH_COMPLETIONSDIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(TARGET flashsim AND TARGET flashsim_tool)
  install(FILES ${PROJECT_SOURCE_DIR}/man/flashsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT simulator EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/flashsim DESTINATION ${ROMFLASH_COMPLETIONSDIR}
    COMPONENT simulator EXCLUDE_FROM_ALL)
  # flashsim lives beside its library in libexec; a relative link puts it on
  # PATH (it finds the library through /proc/self/exe, which resolves links).
  file(RELATIVE_PATH _flashsim_target /${CMAKE_INSTALL_BINDIR}
       /${CMAKE_INSTALL_LIBEXECDIR}/flashsim/flashsim)
  file(CREATE_LINK ${_flashsim_target} ${CMAKE_CURRENT_BINARY_DIR}/flashsim-link SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/flashsim-link DESTINATION ${CMAKE_INSTALL_BINDIR}
    RENAME flashsim COMPONENT simulator EXCLUDE_FROM_ALL)
endif()
