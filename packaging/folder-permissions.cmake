# Run by cpack once the package's files are staged, before it packs them. The staged folders take
# the umask of whoever builds the package (0700 or 0775 with some umasks), which lintian rejects;
# a Debian package's folders are 0755. install() already gives files 0644 and the program 0755.
file(CHMOD_RECURSE "${CPACK_TEMPORARY_DIRECTORY}"
     DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
