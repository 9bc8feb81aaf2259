// Placeholder: the pipe channel is being written.
