// Placeholder: the agent core is being written.
