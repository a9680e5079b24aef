/*
 * Main.h - the program: parse, print the version line, then usage or the
 * requested commands in their fixed order. Returns the exit status.
 */
#pragma once

int Updater_Main(int argc, char* const* argv);
