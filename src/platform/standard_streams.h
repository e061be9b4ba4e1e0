// The three standard descriptors, made sure of before anything opens a
// file: a process started with one of them closed would otherwise hand
// that number to the first file it opens, and the report file would
// receive what was meant for the console.
#pragma once

// Opens the null device on each of standard input, output and error that
// is closed. Called before any file is opened, from the entry's earliest
// initialiser.
void openClosedStandardStreams();
