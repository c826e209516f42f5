# Shared by the scripts: configures and builds the tree into $build_dir.
# glimmora_build <build folder> [extra cmake options...]
glimmora_build() {
    local build_dir=$1
    shift
    cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$build_dir"
}
