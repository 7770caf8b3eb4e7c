/*
 * The window's 3D view: a Togl widget drawn with OpenGL (Mesa renders it in
 * software where there is no GPU).  It shows the model as the export will
 * see it -- the materials' diffuse colours, textures whose file is found,
 * the normals the host recalculates for the export -- and, after an
 * export, the .x file as the check of the export read it back
 * (gui/background_verify.h), alone or side by side with the model.
 *
 * Under the model a ground grid of a round step (about ten cells over the
 * model), in the corner the axes; the object chosen in the list is
 * outlined along its silhouette (the pixels it covers are marked in the
 * stencil buffer as it is drawn; the outline is made from them, in a time
 * that grows with the view's pixels, not the object's triangles).
 *
 * The geometry goes into one vertex buffer per model, built when the model
 * is installed (::molv::gui::view build) and uploaded at the next redraw;
 * a redraw only sets the camera and draws the buffers.
 *
 * The Tcl side (gui.tcl) makes the widget with these commands as its
 * callbacks and binds the mouse and the keys to `::molv::gui::view`:
 *
 *   view build                the open model into the view (once per model)
 *   view orbit DX DY          turn the camera by pixels of mouse motion
 *   view pan DX DY            move the camera sideways
 *   view zoom FACTOR          move closer (< 1) or away (> 1)
 *   view frame                the whole model in view
 *   view select INDEX         highlight the object at INDEX in tree order
 *                             (the tree's "oINDEX"); -1: none
 *   view forget_export        drops the picture of the last export
 *   view show model|export|both
 *   view showing              what is shown
 *   view size                 {DX DY DZ} of the model's box ({} without faces)
 *   view redraw               draws one frame now and waits for it
 *   view ppm FILE             the view's pixels as a binary PPM image
 *   view pixel X Y            "R G B" of one pixel (0,0 the top left)
 */
#ifndef MOLV_GUI_VIEW_H
#define MOLV_GUI_VIEW_H

#include <tcl.h>

#include "gui/view_mesh.h"

namespace molv {
namespace gui {

// Creates ::molv::gui::view and the widget's callbacks
// ::molv::gui::view_create, view_display and view_reshape.
void create_view_commands(Tcl_Interp *interp);

// MESH, the .x as the check of the export read it, becomes the view's
// "export" picture (drawn at the next redraw).
void show_export(ViewMesh mesh);
// Whether the export mirrors z: the axes in the corner of the view show
// the .x's z (along the model's -z when it does).
void set_view_mirror_z(bool mirror);

// Forgets every buffer (the window is going away).
void reset_view();

}  // namespace gui
}  // namespace molv

#endif  // MOLV_GUI_VIEW_H
