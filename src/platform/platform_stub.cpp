// Keeps the platform library non-empty while a platform has no sources.
