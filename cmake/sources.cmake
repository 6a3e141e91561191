# The product's sources, the same on every platform (platform/windows/ or
# platform/sim/ is added by the build that uses them). Also read by the fuzz
# build and the lint script.
set(TAVO_PRODUCT_SOURCES
  app/winmain.cpp
  app/steps_uninstall.cpp
  app/steps_manage.cpp
  app/steps_provider.cpp
  app/steps_java.cpp
  app/steps_startmenu.cpp
  app/offer.cpp
  app/probes.cpp
  ui/confirm.cpp
  ui/messages.cpp
  log/log.cpp
  registry/reg_key.cpp
  registry/reg_value.cpp
  registry/install_info.cpp
  registry/java_home.cpp
  files/exists.cpp
  files/delete_item.cpp
  text/text.cpp
)
