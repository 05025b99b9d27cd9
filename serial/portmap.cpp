// placeholder, replaced by the port-layer work
