// The subcommands of the tesq tool. Each takes the arguments after its own
// name (argv[0] is the subcommand name) and returns the process exit status.
#ifndef TESQ_TOOLS_COMMANDS_H
#define TESQ_TOOLS_COMMANDS_H

int Command_Search(int argc, char **argv);       // tesq search QUERY...
int Command_Word(int argc, char **argv);         // tesq word WORD
int Command_Essay(int argc, char **argv);        // tesq essay [FILE|-]
int Command_Terms(int argc, char **argv);        // tesq terms import|export
int Command_Build_Dicts(int argc, char **argv);  // tesq build-dicts
#if defined(TESQ_HAVE_SERVE)
int Command_Serve(int argc, char **argv);        // tesq serve (POSIX)
#endif

#endif
