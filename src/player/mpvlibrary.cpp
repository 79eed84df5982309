// libmpv is loaded when the first player is created, not when the program
// starts: it pulls in some two hundred libraries (the codecs and their own
// dependencies), and resolving them all at start-up took about as long as
// bringing up the whole window. The program is therefore not linked against
// libmpv; the functions it uses are defined here and forward to the library
// once it is loaded. Without the library mpv_create() answers null, which the
// controller reports as a start-up failure of the media engine.
#include <mpv/client.h>
#include <mpv/render.h>

#include <QtGlobal>

#include <dlfcn.h>

namespace {

void* library() {
    static void* handle = [] {
        void* h = nullptr;
        for (const char* name : {TAVROLIN_MPV_LIBRARY, "libmpv.so.2", "libmpv.so.1", "libmpv.so"}) {
            if ((h = dlopen(name, RTLD_NOW | RTLD_LOCAL)))
                break;
        }
        if (!h)
            qWarning("libmpv could not be loaded: %s", dlerror());
        return h;
    }();
    return handle;
}

void* symbol(const char* name) {
    void* lib = library();
    void* address = lib ? dlsym(lib, name) : nullptr;
    if (!address && lib)
        qWarning("libmpv has no %s", name);
    return address;
}

// Every function but mpv_create is reached only through a handle that
// mpv_create returned, so the library is loaded by then.
template <typename Function> Function required(Function address, const char* name) {
    if (!address)
        qFatal("libmpv function %s is missing", name);
    return address;
}

} // namespace

#define TAVROLIN_MPV(name)                                                                                             \
    static const auto fn = required(reinterpret_cast<decltype(&::name)>(symbol(#name)), #name);                        \
    return fn

extern "C" {

mpv_handle* mpv_create(void) {
    static const auto fn = reinterpret_cast<decltype(&::mpv_create)>(symbol("mpv_create"));
    return fn ? fn() : nullptr;
}
unsigned long mpv_client_api_version(void) {
    static const auto fn = reinterpret_cast<decltype(&::mpv_client_api_version)>(symbol("mpv_client_api_version"));
    return fn ? fn() : 0;
}
const char* mpv_client_name(mpv_handle* ctx) {
    TAVROLIN_MPV(mpv_client_name)(ctx);
}
int mpv_initialize(mpv_handle* ctx) {
    TAVROLIN_MPV(mpv_initialize)(ctx);
}
void mpv_terminate_destroy(mpv_handle* ctx) {
    TAVROLIN_MPV(mpv_terminate_destroy)(ctx);
}
void mpv_free(void* data) {
    TAVROLIN_MPV(mpv_free)(data);
}
void mpv_free_node_contents(mpv_node* node) {
    TAVROLIN_MPV(mpv_free_node_contents)(node);
}
int64_t mpv_get_time_us(mpv_handle* ctx) {
    TAVROLIN_MPV(mpv_get_time_us)(ctx);
}
int mpv_set_option(mpv_handle* ctx, const char* name, mpv_format format, void* data) {
    TAVROLIN_MPV(mpv_set_option)(ctx, name, format, data);
}
int mpv_command_node(mpv_handle* ctx, mpv_node* args, mpv_node* result) {
    TAVROLIN_MPV(mpv_command_node)(ctx, args, result);
}
int mpv_command_string(mpv_handle* ctx, const char* args) {
    TAVROLIN_MPV(mpv_command_string)(ctx, args);
}
int mpv_command_node_async(mpv_handle* ctx, uint64_t reply_userdata, mpv_node* args) {
    TAVROLIN_MPV(mpv_command_node_async)(ctx, reply_userdata, args);
}
int mpv_set_property(mpv_handle* ctx, const char* name, mpv_format format, void* data) {
    TAVROLIN_MPV(mpv_set_property)(ctx, name, format, data);
}
int mpv_set_property_string(mpv_handle* ctx, const char* name, const char* data) {
    TAVROLIN_MPV(mpv_set_property_string)(ctx, name, data);
}
int mpv_set_property_async(mpv_handle* ctx, uint64_t reply_userdata, const char* name, mpv_format format, void* data) {
    TAVROLIN_MPV(mpv_set_property_async)(ctx, reply_userdata, name, format, data);
}
int mpv_get_property(mpv_handle* ctx, const char* name, mpv_format format, void* data) {
    TAVROLIN_MPV(mpv_get_property)(ctx, name, format, data);
}
char* mpv_get_property_string(mpv_handle* ctx, const char* name) {
    TAVROLIN_MPV(mpv_get_property_string)(ctx, name);
}
int mpv_get_property_async(mpv_handle* ctx, uint64_t reply_userdata, const char* name, mpv_format format) {
    TAVROLIN_MPV(mpv_get_property_async)(ctx, reply_userdata, name, format);
}
int mpv_observe_property(mpv_handle* mpv, uint64_t reply_userdata, const char* name, mpv_format format) {
    TAVROLIN_MPV(mpv_observe_property)(mpv, reply_userdata, name, format);
}
int mpv_unobserve_property(mpv_handle* mpv, uint64_t registered_reply_userdata) {
    TAVROLIN_MPV(mpv_unobserve_property)(mpv, registered_reply_userdata);
}
int mpv_request_log_messages(mpv_handle* ctx, const char* min_level) {
    TAVROLIN_MPV(mpv_request_log_messages)(ctx, min_level);
}
mpv_event* mpv_wait_event(mpv_handle* ctx, double timeout) {
    TAVROLIN_MPV(mpv_wait_event)(ctx, timeout);
}
void mpv_set_wakeup_callback(mpv_handle* ctx, void (*cb)(void* d), void* d) {
    TAVROLIN_MPV(mpv_set_wakeup_callback)(ctx, cb, d);
}
int mpv_hook_add(mpv_handle* ctx, uint64_t reply_userdata, const char* name, int priority) {
    TAVROLIN_MPV(mpv_hook_add)(ctx, reply_userdata, name, priority);
}
int mpv_hook_continue(mpv_handle* ctx, uint64_t id) {
    TAVROLIN_MPV(mpv_hook_continue)(ctx, id);
}

int mpv_render_context_create(mpv_render_context** res, mpv_handle* mpv, mpv_render_param* params) {
    TAVROLIN_MPV(mpv_render_context_create)(res, mpv, params);
}
void mpv_render_context_set_update_callback(mpv_render_context* ctx, mpv_render_update_fn callback,
                                            void* callback_ctx) {
    TAVROLIN_MPV(mpv_render_context_set_update_callback)(ctx, callback, callback_ctx);
}
int mpv_render_context_render(mpv_render_context* ctx, mpv_render_param* params) {
    TAVROLIN_MPV(mpv_render_context_render)(ctx, params);
}
void mpv_render_context_report_swap(mpv_render_context* ctx) {
    TAVROLIN_MPV(mpv_render_context_report_swap)(ctx);
}
void mpv_render_context_free(mpv_render_context* ctx) {
    TAVROLIN_MPV(mpv_render_context_free)(ctx);
}

} // extern "C"
