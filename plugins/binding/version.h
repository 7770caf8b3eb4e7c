/*
 * The plug-in's version, as the creator comment of every file, the About
 * text and the dialog show it.  The entry point hands it to the save
 * command, and the run carries it to the header writer.
 */
#ifndef QEL_BINDING_VERSION_H
#define QEL_BINDING_VERSION_H

namespace qel {

inline constexpr char kPluginVersion[] = "1.8";

}  // namespace qel

#endif  // QEL_BINDING_VERSION_H
