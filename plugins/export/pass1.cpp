/*
 * Pass 1: the material and texture maps and the totals.
 */
#include "export/pass1.h"

#include "export/export_state.h"

namespace qel {

void collect_materials(mo_object * /*object*/) {}

void free_maps() {
  ExportState &s = export_state();
  if (s.mat_list != nullptr) {
    myfree(s.mat_list);
    s.mat_list = nullptr;
  }
  if (s.tex_list != nullptr) {
    myfree(s.tex_list);  // tex_material lies in the same block
    s.tex_list = nullptr;
    s.tex_material = nullptr;
  }
  s.mat_count = 0;
  s.tex_count = 0;
}

}  // namespace qel
