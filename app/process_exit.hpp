// How Docklane ends itself.
#pragma once

// Flushes standard output and error, ends the document engine, and exits
// with `code` without running static destructors.
[[noreturn]] void EndProcess(int code);

// The pipe's "quit": stops the HTTP server (waiting at most a second for a
// request in progress) and exits with code 0.
[[noreturn]] void QuitProcess();
