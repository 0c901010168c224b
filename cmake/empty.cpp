// Lets a library whose folder has no sources yet still be built.
