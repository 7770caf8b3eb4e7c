/*
 * The plug-in interface of the modeller molv, as seen from a plug-in.
 *
 * Everything here is owned by the host: the plug-in only declares the
 * functions (they stay undefined in qel_export.so and are resolved from the
 * host executable when the host loads the plug-in) and reads the few record
 * fields below directly.  The host may keep more fields behind the ones
 * declared here; a plug-in never allocates or copies these records itself.
 *
 * Objects and materials are opaque handles.  Lists are singly linked; a list
 * is its first node, null when empty.  An integer list item is stored in the
 * pointer field.
 */
#ifndef QEL_HOST_MOLV_HOST_H
#define QEL_HOST_MOLV_HOST_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define MO_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))
#define MO_API __attribute__((visibility("default")))
#else
#define MO_PRINTF(fmt, first)
#define MO_API
#endif

/* ---- records read field by field ------------------------------------- */

typedef struct mo_list_node {
  void *item;
  struct mo_list_node *next;
} mo_list_node;
typedef mo_list_node *mo_list;

typedef struct mo_vertex {
  float x, y, z;
} mo_vertex;

typedef struct mo_svertex {
  mo_vertex *vertex; /* its address is the vertex's identity */
  float u, v;
  float normal[3];
} mo_svertex;

typedef struct mo_surface {
  mo_list svertices; /* items: mo_svertex*, in the surface's order */
  uint16_t vertex_count;
  uint16_t material; /* palette index */
  float normal[3];
} mo_surface;

typedef struct mo_object mo_object;     /* opaque */
typedef struct mo_material mo_material; /* opaque */

/* The record the host hands to MOLVPluginInit. */
typedef struct mo_startup_record {
  void *host_private;
  const char *plugin_dir; /* folder holding the plug-in file */
} mo_startup_record;

/* A Tcl command handler: argc/argv are the words after the command name.
 * The returned text (may be null) becomes the command's result; it is only
 * read before the handler is called again. */
typedef const char *(*mo_command_handler)(int argc, const char *const *argv);

/* Object and surface type codes. */
enum {
  MO_OBJ_POLYGON = 0,
  MO_OBJ_GROUP = 1,
  MO_OBJ_LIGHT = 2,
  MO_OBJ_WORLD = 999,
  MO_SURF_POLYGON = 0,
  MO_SURF_LINE = 1,
  MO_SURF_CLOSED_LINE = 2
};

/* ---- start-up ---------------------------------------------------------- */

MO_API double mo_get_version_number(void);
MO_API void mo_add_command(const char *name, mo_command_handler handler);
MO_API void mo_add_command_full(const char *name, mo_command_handler handler,
                                int arg_count, const char *arg_types,
                                const char *usage, const char *description);
MO_API void mo_add_export_menu_item(const char *label, const char *tcl_text);
MO_API void mo_unbackslash_string(char *text);

/* ---- messages, Tcl, progress ----------------------------------------- */

MO_API const char *tcl_command(const char *format, ...) MO_PRINTF(1, 2);
MO_API void display_message(const char *format, ...) MO_PRINTF(1, 2);
MO_API void message_dialog(const char *format, ...) MO_PRINTF(1, 2);
MO_API void debugf(const char *format, ...) MO_PRINTF(1, 2);
MO_API void set_progress_bar(int percent);
/* filters: description/pattern pairs, ended by a null pointer */
MO_API const char *mo_get_export_filename(const char *title,
                                          const char *const *filters);

/* ---- memory and lists ------------------------------------------------ */

MO_API void *myalloc(size_t size);
MO_API void myfree(void *pointer);

MO_API void list_add_item(mo_list *list, void *item);
MO_API void list_add_item_head(mo_list *list, void *item);
MO_API void list_append_list(mo_list *list, mo_list other);
MO_API void list_reverse(mo_list *list);
MO_API int list_count(mo_list list);
MO_API void *list_get_item(mo_list list, int index);
MO_API int list_index(mo_list list, const void *item);
MO_API void list_free(mo_list list);
MO_API void mo_surfacelist_free(mo_list list);

/* ---- objects ----------------------------------------------------------- */

MO_API mo_object *mo_get_world(void);
MO_API int mo_object_get_type(mo_object *object);
MO_API const char *mo_object_get_name(mo_object *object);
MO_API const char *mo_object_get_data(mo_object *object);
MO_API float *mo_object_get_centre(mo_object *object);
MO_API void mo_object_get_contents(mo_object *object, int *vertex_count,
                                   int *surface_count, int *child_count,
                                   mo_list *vertices, mo_list *surfaces,
                                   mo_list *children);
MO_API int mo_object_has_texture(mo_object *object);
MO_API int mo_object_get_texture_index(mo_object *object);
MO_API float mo_object_get_texture_repeat_x(mo_object *object);
MO_API float mo_object_get_texture_repeat_y(mo_object *object);
MO_API float mo_object_get_texture_offset_x(mo_object *object);
MO_API float mo_object_get_texture_offset_y(mo_object *object);
MO_API int mo_object_is_subdivided(mo_object *object);
MO_API mo_object *mo_object_get_subdivision(mo_object *object);
MO_API void object_calc_normals_force(mo_object *object);

/* ---- surfaces ---------------------------------------------------------- */

MO_API int surface_get_type(mo_surface *surface);
MO_API int surface_get_shading(mo_surface *surface);
MO_API int surface_get_twosided(mo_surface *surface);
MO_API mo_svertex *surface_get_svertex_at(mo_surface *surface, int index);
MO_API mo_surface *surface_clone(mo_surface *surface, mo_object *object);
MO_API mo_list surface_get_triangulations(mo_surface *surface);

/* ---- palette and textures -------------------------------------------- */

MO_API int mo_get_num_palette(void);
MO_API mo_material *mo_palette_get_material(int index);
MO_API void mo_entity_get_rgb_value(mo_material *material, const char *name,
                                    float rgb[3]);
MO_API void mo_entity_get_float_value(mo_material *material, const char *name,
                                      float *value);
MO_API int mo_get_num_textures(void);
MO_API const char *texture_id_to_name(int id);

/* ---- what a plug-in exports ------------------------------------------ */

typedef int (*mo_plugin_init_fn)(mo_startup_record *record);
typedef int (*mo_plugin_exit_fn)(void);
typedef const char *(*mo_plugin_text_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* QEL_HOST_MOLV_HOST_H */
