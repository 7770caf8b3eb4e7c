/*
 * The molv executable.  It exports the host interface to the plug-ins it
 * loads (the build links it with its symbols exported); the command line
 * itself lives in cli.cpp.
 */
#include "cli.h"

int main(int argc, char **argv) { return molv::cli::run(argc, argv); }
