#include "app/command_line.hpp"

int main(int argc, char** argv) { return app::run(argc, argv); }
