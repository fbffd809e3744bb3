// Standard input, output and error that the program was started without.
#pragma once

namespace platform {

// Opens the null device on each of the three standard descriptors that is
// closed, so that no file the run opens later takes one of their numbers and
// receives what is meant for the console (a log line written into the
// report). Called once by main before anything is opened.
void reserveStandardStreams();

}  // namespace platform
