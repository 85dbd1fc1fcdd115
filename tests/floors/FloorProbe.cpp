// Compiled by the floors test with TARVIK_PROBE_HEADER naming one header of src/, as a source of
// the probe's library would include it.
#include TARVIK_PROBE_HEADER
