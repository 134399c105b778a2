# Third-party libraries, all from Debian packages (see scripts/install-deps.sh).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.11 REQUIRED)
find_package(fmt REQUIRED)
find_package(spdlog REQUIRED)
find_package(SQLiteCpp REQUIRED)
pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)

# Duktape: the package ships its amalgamated source; we compile it ourselves so the
# execution-timeout hook can be switched on (the shared library is built without it).
set(QUILLON_DUKTAPE_DIR /usr/share/duktape CACHE PATH "Directory with duktape.c and duk_config.h")
if(NOT EXISTS ${QUILLON_DUKTAPE_DIR}/duktape.c)
  message(FATAL_ERROR "duktape.c not found in ${QUILLON_DUKTAPE_DIR}: install duktape-dev")
endif()

if(QUILLON_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(QUILLON_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
