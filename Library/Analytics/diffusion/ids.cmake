# The diffusion identifiers (diffusion/*/id/).
