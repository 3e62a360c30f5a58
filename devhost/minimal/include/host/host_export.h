#ifndef HOST_HOST_EXPORT_H
#define HOST_HOST_EXPORT_H

/**
 * Marks a declaration that belongs to the host's libraries.
 *
 * The module is built with hidden visibility; host classes keep default
 * visibility so that the module's references to their out-of-line members,
 * virtual tables and type information resolve against the host at load time.
 */
#define HOST_EXPORT __attribute__((visibility("default")))

#endif /* HOST_HOST_EXPORT_H */
