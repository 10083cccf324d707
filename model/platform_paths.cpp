// STUB: platform paths
