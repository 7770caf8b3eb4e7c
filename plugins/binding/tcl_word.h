/*
 * Quoting of data as one Tcl word.  Option strings and folder names come
 * from files and users; they are put into Tcl texts only through this, so no
 * '[', '$', '"', '\', space or brace in them is ever evaluated or splits the
 * command.
 */
#ifndef QEL_BINDING_TCL_WORD_H
#define QEL_BINDING_TCL_WORD_H

#include <string>

namespace qel {

// The text as one Tcl word that evaluates back to exactly the text.  Plain
// texts (letters, digits, and the characters "/._-+:,=@%~") stay unchanged.
std::string tcl_word(const std::string &text);

}  // namespace qel

#endif  // QEL_BINDING_TCL_WORD_H
