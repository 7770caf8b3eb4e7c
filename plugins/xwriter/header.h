/*
 * The first bytes of every file: the magic line, the creator comments and,
 * with the model information option, the information block with the
 * placeholder the save command patches at the end.
 */
#ifndef QEL_XWRITER_HEADER_H
#define QEL_XWRITER_HEADER_H

namespace qel {

class ExportRun;

// The creator comment names the run's plug-in version; the information
// block holds the run's surface-vertex total and notes where it stands.
void write_header(ExportRun &run);

// Overwrites the total-count placeholder with `written` (the header patch).
// The number takes the place of the old number and its six spaces; a number
// that does not fit there leaves the placeholder as it is.
void patch_header(ExportRun &run, int written);

}  // namespace qel

#endif  // QEL_XWRITER_HEADER_H
