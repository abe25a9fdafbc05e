// Placeholder until the packer lands.
