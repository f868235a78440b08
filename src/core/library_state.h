// The library's own state and its one diagnostic, below every subsystem:
// the lifecycle writes the state, the standard-number validators read the
// region table, and the classifier and the essay report a failed
// segmentation. Nothing here calls into the rest of the library.
#ifndef TESQ_CORE_LIBRARY_STATE_H
#define TESQ_CORE_LIBRARY_STATE_H

#include <cstdint>
#include <ostream>

// Valid two-digit region codes of China serial numbers, indexed 0..65; filled
// by Tesquin_Init and read-only afterwards.
extern int32_t Region_Table[66];

// Sets the 31 province-level codes of Region_Table to 1, every other to 0.
void Region_Table_Fill();

// 1 from the last step of a successful Tesquin_Init until Tesquin_UnInit, so
// that the library can be initialised again afterwards; 0 otherwise.
extern int32_t Library_Initialised;

// Ends a line of the trace file or of a diagnostic: writes a line feed,
// flushes the stream and returns it. Used like a manipulator:
// `out << text << Log_Line;`
std::ostream &Log_Line(std::ostream &out);

// Writes the line "KV_Word_Sect Failed!" to standard output, its line feed
// in the same write, and flushes it as Log_Line does.
void Report_Segmentation_Failure();

#endif
