// The front end: one run of the tool, from the argument vector to the exit status.
#pragma once

// Performs one command on one STI file and returns the exit status. Raises nothing.
int Run(int argc, char** argv);
